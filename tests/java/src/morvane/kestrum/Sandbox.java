package morvane.kestrum;

import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

/** The kestrum-sandbox program (path in the system property kestrum.sandbox) on a temporary state directory. */
final class Sandbox implements AutoCloseable {
    static final String USER = "e40215536";
    static final String PASSWORD = "Pq7mWz2L";

    final Path dir;
    final String url;
    final int port;
    private final Process process;

    Sandbox() throws IOException {
        String program = System.getProperty("kestrum.sandbox");
        if (program == null || program.isEmpty())
            throw new IllegalStateException("system property kestrum.sandbox not set");
        dir = Files.createTempDirectory("tbxjava-");
        process = new ProcessBuilder(program, "--state", dir.resolve("host").toString(), "--quiet")
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
        BufferedReader out = new BufferedReader(
                new InputStreamReader(process.getInputStream(), StandardCharsets.US_ASCII));
        String line = out.readLine();
        if (line == null || !line.startsWith("http://127.0.0.1:")) {
            process.destroyForcibly();
            throw new IOException("kestrum-sandbox did not start: " + line);
        }
        url = line.trim();
        port = Integer.parseInt(url.substring(url.lastIndexOf(':') + 1));
    }

    String setupUrl() {
        return url + "/user/setup.asp";
    }

    /** The raw answer (head and body) of a GET of {@code target} over HTTP/1.0. */
    String get(String target) throws IOException {
        try (Socket socket = new Socket("127.0.0.1", port)) {
            socket.setSoTimeout(30000);
            OutputStream os = socket.getOutputStream();
            os.write(("GET " + target + " HTTP/1.0\r\n\r\n").getBytes(StandardCharsets.ISO_8859_1));
            os.flush();
            InputStream is = socket.getInputStream();
            ByteArrayOutputStream all = new ByteArrayOutputStream();
            byte[] buf = new byte[4096];
            int n;
            while ((n = is.read(buf)) > 0)
                all.write(buf, 0, n);
            return all.toString(StandardCharsets.UTF_8);
        }
    }

    @Override
    public void close() throws Exception {
        process.destroy(); // SIGTERM: the host ends its connections and exits
        if (!process.waitFor(30, TimeUnit.SECONDS))
            process.destroyForcibly().waitFor();
        try (Stream<Path> paths = Files.walk(dir)) {
            paths.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }
}
