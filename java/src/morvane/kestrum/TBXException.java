package morvane.kestrum;

/**
 * A failure of the Kestrum component or of its Java binding: a result code and a text.
 *
 * <p>Codes are the component's 32-bit result codes (for example {@code 0x80040211}, "unexpected
 * error"); failures detected by the binding itself (a closed object, a null argument) use
 * {@code 0x80040211}.
 */
public class TBXException extends Exception {
    private static final long serialVersionUID = 1L;

    /** The result code. */
    private int m_HR;
    /** The text, never null. */
    private String m_ErrorMessage = "";
    /** Whether the failed call's request reached the host: 1 yes, 0 no, -1 no request involved. */
    private int m_RequestSent = -1;

    /** An exception with code 0 and an empty text; the natives fill both in before throwing. */
    public TBXException() {
        super();
    }

    /**
     * An exception with a code and a text.
     *
     * @param hr the result code
     * @param message the text; null is taken as ""
     */
    public TBXException(int hr, String message) {
        super();
        m_HR = hr;
        putErrorMessage(message);
    }

    /**
     * Sets the result code.
     *
     * @param hr the result code
     */
    public void putHR(int hr) {
        m_HR = hr;
    }

    /**
     * Sets the text.
     *
     * @param message the text; null is taken as ""
     */
    public void putErrorMessage(String message) {
        m_ErrorMessage = message != null ? message : "";
    }

    /**
     * Records whether the failed call's request had been sent; the natives call it.
     *
     * @param sent 1 when the whole request had been written to the host, 0 when it had not, -1
     *     when the failure involved no request
     */
    public void putRequestSent(int sent) {
        m_RequestSent = sent;
    }

    /**
     * Whether the failed call had sent its whole request to the host before it failed. True: the
     * host may have acted on it (a capture may have happened), or it answered with a refusal; ask
     * the host for the payment's state before trying again. False: the request never went out
     * (repeating it is safe), or the failure involved no request at all.
     *
     * @return true when the request had been sent
     */
    public boolean isRequestSent() {
        return m_RequestSent == 1;
    }

    /**
     * The result code, as a signed int ({@code 0x80040211} reads as a negative number).
     *
     * @return the result code
     */
    public int getHR() {
        return m_HR;
    }

    /**
     * The text, for example "MessageObject::GetURL(): unexpected error".
     *
     * @return the text, never null
     */
    @Override
    public String getMessage() {
        return m_ErrorMessage;
    }

    /**
     * The code in hexadecimal followed by the text.
     *
     * @return "TBXException 0x80040211: ..." and the like
     */
    @Override
    public String toString() {
        return String.format("TBXException 0x%08x: %s", m_HR, m_ErrorMessage);
    }
}
