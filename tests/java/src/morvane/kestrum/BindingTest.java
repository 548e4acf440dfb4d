package morvane.kestrum;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** The natives' own checks: handles, double construction, null arguments, use after close. */
class BindingTest {
    static final int UNEXPECTED = 0x80040211;

    interface Call {
        void run() throws Exception;
    }

    private Path dir;

    @BeforeEach
    void makeDir() throws Exception {
        dir = Files.createTempDirectory("tbxjava-");
    }

    @AfterEach
    void removeDir() throws Exception {
        try (Stream<Path> paths = Files.walk(dir)) {
            paths.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }

    static void assertFails(int code, String message, Executable call) {
        TBXException e = assertThrows(TBXException.class, call, message);
        assertEquals(code, e.getHR(), message + ": " + e);
        assertEquals(message, e.getMessage());
    }

    @Test
    void constructCloseAndConstructTwice() throws Exception {
        ConfigurationSetup setup = new ConfigurationSetup();
        MessageFactory factory = new MessageFactory();
        MessageObject message = new MessageObject();
        assertFails(UNEXPECTED, "ConfigurationSetup::Construct(): m_Handle != 0", setup::nConstruct);
        assertFails(UNEXPECTED, "MessageFactory::Construct(): m_Handle != 0", factory::nConstruct);
        assertFails(UNEXPECTED, "MessageObject::Construct(): m_Handle != 0", message::nConstruct);
        message.close();
        factory.close();
        setup.close();
        setup.close(); // a second close does nothing
        // A closed object can be constructed again: its handle is 0.
        setup.nConstruct();
        setup.SetConfiguration(dir.resolve("again").toString());
        setup.close();
    }

    @Test
    void handlesAreDistinctSmallNumbers() throws Exception {
        try (MessageObject a = new MessageObject(); MessageObject b = new MessageObject()) {
            // Objects of one kind never share a handle, and the handle of another kind is refused.
            java.lang.reflect.Field field = MessageObject.class.getDeclaredField("m_Handle");
            field.setAccessible(true);
            int ha = field.getInt(a);
            int hb = field.getInt(b);
            assertNotEquals(0, ha);
            assertNotEquals(ha, hb);
            try (MessageFactory factory = new MessageFactory()) {
                java.lang.reflect.Field ff = MessageFactory.class.getDeclaredField("m_Handle");
                ff.setAccessible(true);
                int saved = ff.getInt(factory);
                ff.setInt(factory, ha);
                assertFails(UNEXPECTED, "MessageFactory::Open(): Invalid Handle", () -> factory.Open(""));
                ff.setInt(factory, 0x7fff0000);
                assertFails(UNEXPECTED, "MessageFactory::Open(): Invalid Handle", () -> factory.Open(""));
                ff.setInt(factory, saved);
                factory.Open("");
            }
        }
    }

    @Test
    void everyMethodAfterCloseIsInvalidHandle() throws Exception {
        ConfigurationSetup setup = new ConfigurationSetup();
        MessageFactory factory = new MessageFactory();
        MessageObject message = new MessageObject();
        setup.close();
        factory.close();
        message.close();
        Object[][] cases = {
            {"ConfigurationSetup::SetConfiguration()", (Executable) () -> setup.SetConfiguration("x")},
            {"ConfigurationSetup::Reconfigure()", (Executable) () -> setup.Reconfigure("", "", "")},
            {"ConfigurationSetup::SetOption()", (Executable) () -> setup.SetOption("UserName", "u")},
            {"ConfigurationSetup::GetAttribute()", (Executable) () -> setup.GetAttribute("config.xml", "VTURL")},
            {"ConfigurationSetup::SetAttribute()", (Executable) () -> setup.SetAttribute("config.xml", "A", "1")},
            {"MessageFactory::Open()", (Executable) () -> factory.Open("x")},
            {"MessageFactory::VerifyPayConfirm()", (Executable) () -> factory.VerifyPayConfirm("d", "s")},
            {"MessageFactory::CreatePayInit()", (Executable) factory::CreatePayInit},
            {"MessageFactory::CreatePayComplete()", (Executable) () -> factory.CreatePayComplete("i", "t")},
            {"MessageFactory::CreateRequest()", (Executable) () -> factory.CreateRequest("StatusRequest")},
            {"MessageObject::Open()", (Executable) () -> message.Open("x")},
            {"MessageObject::SetAttribute()", (Executable) () -> message.SetAttribute("A", "1")},
            {"MessageObject::GetAttribute()", (Executable) () -> message.GetAttribute("A")},
            {"MessageObject::GetURL()", (Executable) message::GetURL},
            {"MessageObject::Capture()", (Executable) message::Capture},
            {"MessageObject::Execute()", (Executable) message::execute},
            {"MessageObject::FromString()", (Executable) () -> message.FromString("<TBX/>")},
            {"MessageObject::ToString()", (Executable) message::ToString},
        };
        for (Object[] c : cases)
            assertFails(UNEXPECTED, c[0] + ": Invalid Handle", (Executable) c[1]);
    }

    @Test
    void closeRacingCallsOnOtherThreads() throws Exception {
        // Calls either run on the live object or find it closed; none sees freed memory.
        java.util.Queue<String> odd = new java.util.concurrent.ConcurrentLinkedQueue<>();
        for (int round = 0; round < 20; ++round) {
            MessageObject message = new MessageObject();
            Thread[] threads = new Thread[4];
            for (int i = 0; i < threads.length; ++i) {
                threads[i] = new Thread(() -> {
                    for (int n = 0; n < 200; ++n) {
                        try {
                            message.GetAttribute("A"); // never opened: refused by the component
                            odd.add("no exception");
                        } catch (TBXException e) {
                            String m = e.getMessage();
                            if (!m.startsWith("MessageObject::GetAttribute(): unexpected error (")
                                    && !m.equals("MessageObject::GetAttribute(): Invalid Handle"))
                                odd.add(m);
                        }
                    }
                });
                threads[i].start();
            }
            message.close();
            for (Thread t : threads)
                t.join();
        }
        assertEquals("[]", odd.toString());
    }

    @Test
    void nullArguments() throws Exception {
        try (ConfigurationSetup setup = new ConfigurationSetup(); MessageObject message = new MessageObject()) {
            Path store = dir.resolve("store");
            setup.SetConfiguration(store.toString());
            String option = "ConfigurationSetup::SetOption(): Value or Name of the Attribute is NULL";
            String attribute = "MessageObject::SetAttribute(): Value or Name of the Attribute is NULL";
            String file = "ConfigurationSetup::SetAttribute(): Value or File, Name or newVal is NULL";
            Object[][] cases = {
                {option, (Executable) () -> setup.SetOption(null, "u")},
                {option, (Executable) () -> setup.SetOption("UserName", null)},
                {attribute, (Executable) () -> message.SetAttribute(null, "1")},
                {attribute, (Executable) () -> message.SetAttribute("AMOUNT", null)},
                {file, (Executable) () -> setup.SetAttribute(null, "A", "1")},
                {file, (Executable) () -> setup.SetAttribute("config.xml", null, "1")},
                {file, (Executable) () -> setup.SetAttribute("config.xml", "A", null)},
            };
            for (Object[] c : cases)
                assertFails(UNEXPECTED, (String) c[0], (Executable) c[1]);
            // Other natives take null as "": a missing value of a missing file reads as "".
            assertEquals("", setup.GetAttribute(null, null));
            assertEquals("", setup.GetAttribute("config.xml", "NOSUCHKEY"));
            // The component's own failures keep their code and carry its text.
            TBXException e = assertThrows(TBXException.class, () -> setup.SetOption("Colour", "blue"));
            assertEquals(0x80040207, e.getHR());
            assertEquals("ConfigurationSetup::SetOption(): invalid option (option 'Colour' is unknown: "
                    + "the options are UserName, Password and VTAUTOURL)", e.getMessage());
        }
    }
}
