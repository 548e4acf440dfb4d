package morvane.kestrum;

/**
 * A merchant's configuration store: set up against the payment host, and read or written one
 * value at a time. Close it when done (try-with-resources); after {@link #close()} every method
 * throws a {@link TBXException} with code {@code 0x80040211} and "... Invalid Handle".
 *
 * <p>An object must not be used from two threads at once.
 */
public class ConfigurationSetup implements AutoCloseable {
    static {
        System.loadLibrary("tbxapp");
    }

    // A handle number of the native library's table, 0 when there is no native object.
    private int m_Handle;

    /**
     * A new, unbound configuration setup.
     *
     * @throws TBXException when the native object cannot be made
     */
    public ConfigurationSetup() throws TBXException {
        nConstruct();
    }

    native void nConstruct() throws TBXException;

    native void nDestruct();

    /** Releases the native object; a second call does nothing. */
    @Override
    public void close() {
        nDestruct();
    }

    /**
     * Binds the store directory, creating it when missing (its parent must exist).
     *
     * @param path the store directory; null or "" is the current directory
     * @throws TBXException on failure
     */
    public native void SetConfiguration(String path) throws TBXException;

    /**
     * Runs the whole set-up against the host: account configuration, default offer attributes,
     * the host's key, a new merchant key registered with the host.
     *
     * @param serverUrl the set-up endpoint; null or "" keeps the store's own
     * @param userName the account's user name (null as "")
     * @param password the account's password (null as "")
     * @throws TBXException on failure, with the component's code
     */
    public native void Reconfigure(String serverUrl, String userName, String password)
            throws TBXException;

    /**
     * Sets an option: "UserName", "Password" or "VTAUTOURL".
     *
     * @param name the option's name, not null
     * @param value its value, not null
     * @throws TBXException for a null argument or an unknown option
     */
    public native void SetOption(String name, String value) throws TBXException;

    /**
     * A value of a store file.
     *
     * @param file the store file, for example "config.xml" (null as "")
     * @param key the value's name (null as "")
     * @return the value, or "" when it is not there
     * @throws TBXException on failure
     */
    public native String GetAttribute(String file, String key) throws TBXException;

    /**
     * Sets a value in an existing store file; an empty value changes nothing.
     *
     * @param file the store file, not null
     * @param key the value's name, not null
     * @param value the value, not null
     * @throws TBXException for a null argument or when the file cannot be written
     */
    public native void SetAttribute(String file, String key, String value) throws TBXException;
}
