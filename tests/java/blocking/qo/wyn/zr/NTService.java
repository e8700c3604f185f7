package qo.wyn.zr;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.CountDownLatch;

// start() runs until stop() is called. Each leaves the name of its thread in
// a file: "started" when start() begins, "stop-called" when stop() runs.
public class NTService {
    private static final CountDownLatch stopped = new CountDownLatch(1);

    public static void start() throws Exception {
        Files.writeString(Path.of("started"), Thread.currentThread().getName());
        stopped.await();
    }

    public static void stop() throws Exception {
        Files.writeString(Path.of("stop-called"), Thread.currentThread().getName());
        stopped.countDown();
    }
}
