package morvane.kestrum;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/** A whole payment from Java against the sandbox host. */
class PaymentTest {
    // The value after "NAME=" on its own line of a page.
    static String pageLine(String page, String name) {
        String key = "\n" + name + "=";
        int at = page.indexOf(key);
        if (at < 0)
            return "";
        int start = at + key.length();
        int end = page.indexOf('\n', start);
        return page.substring(start, end < 0 ? page.length() : end).trim();
    }

    /** Sets a store in the host's folder up against the host; its path. */
    private static String setUpStore(Sandbox host, ConfigurationSetup setup) throws Exception {
        String store = host.dir.resolve("store").toString();
        setup.SetConfiguration(store);
        setup.Reconfigure(host.setupUrl(), Sandbox.USER, Sandbox.PASSWORD);
        return store;
    }

    @Test
    void offerAuthoriseConfirmCaptureOnce() throws Exception {
        try (Sandbox host = new Sandbox();
                ConfigurationSetup setup = new ConfigurationSetup();
                MessageFactory factory = new MessageFactory()) {
            String store = setUpStore(host, setup);
            assertEquals(host.url + "/capture", setup.GetAttribute("config.xml", "CAPTUREURL"));
            factory.Open(store);

            String token;
            String url;
            String description = "Th\u00e9 & biscuits \u20ac"; // crosses the boundary as UTF-8
            try (MessageObject offer = factory.CreatePayInit()) {
                offer.SetAttribute("AMOUNT", "1560");
                offer.SetAttribute("CURRENCY", "EUR");
                offer.SetAttribute("DESCRIPTION", description);
                assertEquals("", offer.GetAttribute("NOSUCHATTRIBUTE"));
                assertEquals(description, offer.GetAttribute("DESCRIPTION"));
                token = offer.GetAttribute("TOKEN");
                assertEquals(32, token.length());
                url = offer.GetURL();
            }
            assertTrue(url.startsWith(host.url + "/offer?DATA="), url);

            // The shopper's browser at the host.
            String page = host.get(url.substring(host.url.length()));
            assertTrue(page.startsWith("HTTP/1.0 302"), page);
            String data = pageLine(page, "DATA");
            String signature = pageLine(page, "SIGNATURE");
            assertFalse(data.isEmpty(), page);

            String id;
            try (MessageObject confirm = factory.VerifyPayConfirm(data, signature)) {
                assertEquals("PayConfirm", confirm.GetAttribute("MSGTYPE"));
                assertEquals(token, confirm.GetAttribute("TOKEN"));
                assertEquals("1560", confirm.GetAttribute("AMOUNT"));
                assertEquals(description, confirm.GetAttribute("DESCRIPTION"));
                id = confirm.GetAttribute("ID");
                assertFalse(id.isEmpty());
                // A confirmation is no offer: it has no URL.
                TBXException e = assertThrows(TBXException.class, confirm::GetURL);
                assertEquals(0x80040211, e.getHR());
                assertEquals("MessageObject::GetURL(): unexpected error", e.getMessage());

                // Saved and restored on a message opened on the store.
                String saved = confirm.ToString();
                try (MessageObject restored = new MessageObject()) {
                    restored.Open(store);
                    restored.FromString(saved);
                    assertEquals(id, restored.GetAttribute("ID"));
                    assertEquals(description, restored.GetAttribute("DESCRIPTION"));
                }
            }

            // A forged confirmation keeps the component's code.
            TBXException forged = assertThrows(TBXException.class,
                    () -> factory.VerifyPayConfirm(data.replace("1560", "9560"), signature));
            assertEquals(0x80040214, forged.getHR());
            assertTrue(forged.getMessage().startsWith("MessageFactory::VerifyPayConfirm(): "),
                    forged.getMessage());

            // Capture once; the second is refused by the host, with its reason.
            try (MessageObject capture = factory.CreatePayComplete(id, token)) {
                capture.Capture();
            }
            try (MessageObject again = factory.CreatePayComplete(id, token)) {
                TBXException e = assertThrows(TBXException.class, again::Capture);
                assertEquals(0x80040213, e.getHR());
                assertTrue(e.getMessage().startsWith("MessageObject::Capture(): "), e.getMessage());
                assertTrue(e.getMessage().contains("already captured"), e.getMessage());
            }

            // A general request answered with a new message the caller owns.
            try (MessageObject status = factory.CreateRequest("Status")) { // sent as StatusRequest
                status.SetAttribute("ID", id);
                try (MessageObject answer = status.execute()) {
                    assertEquals("StatusResponse", answer.GetAttribute("MSGTYPE"));
                    assertEquals("captured", answer.GetAttribute("STATE"));
                }
            }
        }
    }

    // An offer of AMOUNT in EUR authorised at the host: { token, id, data, signature }.
    static String[] pay(Sandbox host, MessageFactory factory, String amount) throws Exception {
        String token;
        String url;
        try (MessageObject offer = factory.CreatePayInit()) {
            offer.SetAttribute("AMOUNT", amount);
            offer.SetAttribute("CURRENCY", "EUR");
            token = offer.GetAttribute("TOKEN");
            url = offer.GetURL();
        }
        String page = host.get(url.substring(host.url.length()));
        return new String[] {token, pageLine(page, "ID"), pageLine(page, "DATA"),
            pageLine(page, "SIGNATURE")};
    }

    @Test
    void confirmationBoundToItsOrderAndCaptureFailuresSayWhetherSent() throws Exception {
        try (Sandbox host = new Sandbox();
                ConfigurationSetup setup = new ConfigurationSetup();
                MessageFactory factory = new MessageFactory()) {
            String store = setUpStore(host, setup);
            factory.Open(store);
            String[] dear = pay(host, factory, "9900");
            String[] cheap = pay(host, factory, "500");

            // { data, signature, expected code (0: verifies), text in the message }
            String[][] confirmations = {
                {dear[2], dear[3], "0", ""},
                {cheap[2], cheap[3], "-2147220965", "AMOUNT is '500', the order's is '9900'"},
                {dear[2].replace("9900", "9901"), dear[3], "-2147220972", ""},
            };
            for (String[] c : confirmations) {
                int code = Integer.parseInt(c[2]);
                if (code == 0) {
                    try (MessageObject ok =
                            factory.VerifyPayConfirmForOrder(c[0], c[1], dear[0], "9900", "EUR")) {
                        assertEquals(dear[1], ok.GetAttribute("ID"));
                    }
                    continue;
                }
                TBXException e = assertThrows(TBXException.class,
                        () -> factory.VerifyPayConfirmForOrder(c[0], c[1], dear[0], "9900", "EUR"));
                assertEquals(code, e.getHR(), e.getMessage());
                assertTrue(e.getMessage().startsWith("MessageFactory::VerifyPayConfirmForOrder(): "),
                        e.getMessage());
                assertTrue(e.getMessage().contains(c[3]), e.getMessage());
                assertFalse(e.isRequestSent());
            }

            // { CAPTUREURL, sandbox fault ("" none), sent }
            String[][] captures = {
                {"http://127.0.0.1:1/capture", "", "false"},
                {host.url + "/capture", "MODE=drop&MATCH=PayComplete", "true"},
                {host.url + "/capture", "", "true"}, // the host refuses: already captured
            };
            for (String[] c : captures) {
                setup.SetAttribute("config.xml", "CAPTUREURL", c[0]);
                if (!c[1].isEmpty())
                    host.get("/admin/fault?" + c[1]);
                try (MessageObject capture = factory.CreatePayComplete(dear[1], dear[0])) {
                    TBXException e = assertThrows(TBXException.class, capture::Capture);
                    assertEquals(Boolean.parseBoolean(c[2]), e.isRequestSent(), e.getMessage());
                }
            }
        }
    }
}
