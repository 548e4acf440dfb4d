import morvane.kestrum.MessageFactory;
import morvane.kestrum.MessageObject;
import morvane.kestrum.TBXException;

/* The installed jar with the natives of the installed library: an offer without a store fails
 * with the library's code, as in C. */
public class Consumer {
    public static void main(String[] args) throws Exception {
        try (MessageFactory factory = new MessageFactory()) {
            factory.Open(args[0]);
            try (MessageObject offer = factory.CreatePayInit()) {
                System.err.println("java consumer: an offer without a store succeeded");
                System.exit(1);
            } catch (TBXException e) {
                System.out.printf("java: offer without a store: 0x%08X%n", e.getHR());
            }
        }
    }
}
