package qo.wyn.zr;

import java.nio.file.*;
import java.util.concurrent.*;

// start() writes to "checks" a line "name value" for what an application may count on under java: ls started
// by name, System.loadLibrary finding libno_entry.so in jdbc/dll, then children(). Then it runs until stop(),
// which writes children() to "stop-checks".
public class NTService {
    private static final CountDownLatch stopped = new CountDownLatch(1);

    public static void start() throws Exception {
        String seen = "ls " + new ProcessBuilder("ls").start().waitFor() + "\n";
        System.loadLibrary("no_entry");
        write("checks", seen + "library loaded\n" + children());
        stopped.await();
    }

    public static void stop() throws Exception {
        write("stop-checks", children());
        stopped.countDown();
    }

    // The signals blocked and ignored in a child, the status of a child ended by destroy() (-1: still running).
    private static String children() throws Exception {
        Process grep = new ProcessBuilder("grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status").start();
        String seen = new String(grep.getInputStream().readAllBytes()).replace(":\t", " ");
        Process sleep = new ProcessBuilder("sleep", "60").start();
        sleep.destroy();
        return seen + "destroyed " + (sleep.waitFor(30, TimeUnit.SECONDS) ? sleep.exitValue() : -1) + "\n";
    }

    // Whole or not at all: the test reads the file as soon as it exists.
    private static void write(String name, String text) throws Exception {
        Files.move(Files.writeString(Path.of(name + ".part"), text), Path.of(name), StandardCopyOption.ATOMIC_MOVE);
    }
}
