package morvane.kestrum;

/**
 * One payment message bound to a configuration store: an offer, a confirmation, a capture, a
 * request or a host's response. Close it when done; after {@link #close()} every method throws a
 * {@link TBXException} with code {@code 0x80040211} and "... Invalid Handle".
 *
 * <p>An object must not be used from two threads at once.
 */
public class MessageObject implements AutoCloseable {
    static {
        System.loadLibrary("tbxapp");
    }

    // A handle number of the native library's table, 0 when there is no native object.
    private int m_Handle;

    /**
     * A new, empty message; {@link #Open(String)} binds it to a store, for example to restore a
     * saved message with {@link #FromString(String)}.
     *
     * @throws TBXException when the native object cannot be made
     */
    public MessageObject() throws TBXException {
        nConstruct();
    }

    // Wraps a native object made by a factory or by execute(); this object owns it from now on.
    MessageObject(int handle) {
        m_Handle = handle;
    }

    native void nConstruct() throws TBXException;

    native void nDestruct();

    native int nExecute() throws TBXException;

    /** Releases the native object; a second call does nothing. */
    @Override
    public void close() {
        nDestruct();
    }

    /**
     * Binds the store and its current key.
     *
     * @param path the store directory (null or "" is the current directory)
     * @throws TBXException on failure
     */
    public native void Open(String path) throws TBXException;

    /**
     * Adds or replaces an attribute.
     *
     * @param name the attribute's name (letters, digits, '.', '-', '_'), not null
     * @param value its value, not null
     * @throws TBXException for a null argument or an invalid name
     */
    public native void SetAttribute(String name, String value) throws TBXException;

    /**
     * An attribute's value.
     *
     * @param name the attribute's name (null as "")
     * @return the value, or "" when the message has no such attribute
     * @throws TBXException on failure
     */
    public native String GetAttribute(String name) throws TBXException;

    /**
     * The signed payment-offer URL the shopper's browser is sent to; only for offers the factory
     * built.
     *
     * @return the URL
     * @throws TBXException on failure; "MessageObject::GetURL(): unexpected error" for a message
     *     the factory did not build
     */
    public native String GetURL() throws TBXException;

    /**
     * Signs the capture request and sends it to the host, which must confirm it.
     *
     * @throws TBXException when the host refuses (the text gives its reason) or cannot be reached
     */
    public native void Capture() throws TBXException;

    /**
     * Signs the request, sends it to the host and returns the host's answer.
     *
     * @return the response message, owned by the caller
     * @throws TBXException on failure
     */
    public MessageObject execute() throws TBXException {
        return new MessageObject(nExecute());
    }

    /**
     * Replaces the message with one saved by {@link #ToString()}; the object must be opened.
     *
     * @param text the saved text (null as "")
     * @throws TBXException when the text cannot be read; the message is then unchanged
     */
    public native void FromString(String text) throws TBXException;

    /**
     * The message as text, for saving.
     *
     * @return the text
     * @throws TBXException on failure
     */
    public native String ToString() throws TBXException;
}
