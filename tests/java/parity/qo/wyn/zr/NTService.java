package qo.wyn.zr;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

// start() does what an application may count on under the java launcher and
// writes what it saw to "checks", a line "name value" each: the status of ls
// started by name, System.loadLibrary finding libno_entry.so in jdbc/dll, the
// blocked and ignored signals a child starts with, the status of a child
// ended by destroy() (-1: still running). Then it runs until stop().
public class NTService {
    private static final CountDownLatch stopped = new CountDownLatch(1);

    public static void start() throws Exception {
        StringBuilder seen = new StringBuilder("ls " + new ProcessBuilder("ls").start().waitFor() + "\n");
        System.loadLibrary("no_entry");
        seen.append("library loaded\n");
        Process grep = new ProcessBuilder("grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status").start();
        seen.append(new String(grep.getInputStream().readAllBytes()).replace(":\t", " "));
        Process sleep = new ProcessBuilder("sleep", "60").start();
        sleep.destroy();
        seen.append("destroyed " + (sleep.waitFor(30, TimeUnit.SECONDS) ? sleep.exitValue() : -1) + "\n");
        Files.writeString(Path.of("checks"), seen);
        stopped.await();
    }

    public static void stop() {
        stopped.countDown();
    }
}
