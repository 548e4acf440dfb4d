package morvane.kestrum;

/**
 * Builds the payment messages of a configuration store: offers, verified confirmations, captures
 * and general requests. The messages it returns are independent of it and must each be closed.
 * After {@link #close()} every method throws a {@link TBXException} with code {@code 0x80040211}.
 *
 * <p>An object must not be used from two threads at once.
 */
public class MessageFactory implements AutoCloseable {
    static {
        System.loadLibrary("tbxapp");
    }

    // A handle number of the native library's table, 0 when there is no native object.
    private int m_Handle;

    /**
     * A new factory; {@link #Open(String)} names its store.
     *
     * @throws TBXException when the native object cannot be made
     */
    public MessageFactory() throws TBXException {
        nConstruct();
    }

    native void nConstruct() throws TBXException;

    native void nDestruct();

    native int nVerifyPayConfirm(String data, String signature) throws TBXException;

    native int nVerifyPayConfirmForOrder(String data, String signature, String token,
            String amount, String currency) throws TBXException;

    native int nCreatePayInit() throws TBXException;

    native int nCreatePayComplete(String id, String token) throws TBXException;

    native int nCreateRequest(String messageType) throws TBXException;

    /** Releases the native object; a second call does nothing. */
    @Override
    public void close() {
        nDestruct();
    }

    /**
     * Records the store directory; nothing is read until a message is built.
     *
     * @param path the store directory (null or "" is the current directory)
     * @throws TBXException on failure
     */
    public native void Open(String path) throws TBXException;

    /**
     * Verifies a confirmation the host handed over after the shopper's authorisation.
     *
     * @param data the confirmation's XML text (null as "")
     * @param signature its signature in hexadecimal (null as "")
     * @return the confirmed message
     * @throws TBXException when the signature does not verify or the text cannot be read
     */
    public MessageObject VerifyPayConfirm(String data, String signature) throws TBXException {
        return new MessageObject(nVerifyPayConfirm(data, signature));
    }

    /**
     * Verifies a confirmation as {@link #VerifyPayConfirm(String, String)} does, and then that it
     * pays the order it is presented for: its TOKEN, AMOUNT and CURRENCY must equal the order's,
     * byte for byte. Use it rather than comparing by hand: a genuine confirmation of a cheaper
     * order is refused.
     *
     * @param data the confirmation's XML text (null as "")
     * @param signature its signature in hexadecimal (null as "")
     * @param token the TOKEN of the order's offer
     * @param amount the order's AMOUNT as the offer carried it (minor units, "1560")
     * @param currency the order's CURRENCY
     * @return the confirmed message
     * @throws TBXException with code {@code 0x8004021B} when the confirmation is another order's
     *     (the message names the attribute), {@code 0x80040218} when an order value is null or
     *     empty, and the codes of {@link #VerifyPayConfirm(String, String)} for anything the host
     *     did not sign
     */
    public MessageObject VerifyPayConfirmForOrder(String data, String signature, String token,
            String amount, String currency) throws TBXException {
        return new MessageObject(
                nVerifyPayConfirmForOrder(data, signature, token, amount, currency));
    }

    /**
     * A new payment offer with a fresh TOKEN, the store's default attributes and an EXPIRATION.
     *
     * @return the offer; set AMOUNT and CURRENCY, then take its URL
     * @throws TBXException on failure
     */
    public MessageObject CreatePayInit() throws TBXException {
        return new MessageObject(nCreatePayInit());
    }

    /**
     * A capture request for an authorised payment.
     *
     * @param id the transaction ID of the confirmation (null as "")
     * @param token the TOKEN of the offer (null as "")
     * @return the request; {@link MessageObject#Capture()} sends it
     * @throws TBXException on failure
     */
    public MessageObject CreatePayComplete(String id, String token) throws TBXException {
        return new MessageObject(nCreatePayComplete(id, token));
    }

    /**
     * A request of any message type; {@link MessageObject#execute()} sends it.
     *
     * @param messageType the request's type without the "Request" the host sees, for example "Status"
     * @return the request
     * @throws TBXException on failure
     */
    public MessageObject CreateRequest(String messageType) throws TBXException {
        return new MessageObject(nCreateRequest(messageType));
    }
}
