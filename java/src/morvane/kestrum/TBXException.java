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
