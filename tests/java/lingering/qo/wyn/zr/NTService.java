package qo.wyn.zr;

import java.nio.file.Files;
import java.nio.file.Path;

// start() returns at once but leaves a non-daemon thread behind that works
// for half a second more and then writes "lingerer-done".
public class NTService {
    public static void start() {
        Thread lingerer = new Thread(() -> {
            try {
                Thread.sleep(500);
                Files.writeString(Path.of("lingerer-done"), "done");
            } catch (Exception e) {
                throw new RuntimeException(e);
            }
        }, "lingerer");
        lingerer.setDaemon(false);
        lingerer.start();
    }

    public static void stop() {
    }
}
