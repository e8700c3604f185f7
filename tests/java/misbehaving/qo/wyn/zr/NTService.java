package qo.wyn.zr;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.CountDownLatch;

// Misbehaves as the environment variable ZR_TEST_CASE says; otherwise start()
// runs until stop() releases it.
public class NTService {
    private static final String CASE = System.getenv("ZR_TEST_CASE");
    private static final CountDownLatch released = new CountDownLatch(1);

    static {
        if ("throw-in-init".equals(CASE)) throw new IllegalStateException("init");
    }

    public static void start() throws Exception {
        switch (CASE) {
            case "throw-in-start" -> throw new IllegalStateException("boom");
            case "long-throw" -> throw new IllegalStateException("x".repeat(20000));
            case "exit-in-start" -> System.exit(7);
            case "linger" -> new Thread(NTService::forever).start();
            case "linger-briefly" -> new Thread(NTService::lingerBriefly).start();
            default -> released.await();
        }
    }

    public static void stop() {
        switch (CASE) {
            case "release-then-block" -> { released.countDown(); forever(); }
            case "throw-in-stop" -> throw new IllegalStateException("refused");
            case "exit-in-stop" -> System.exit(7);
            case "ignore" -> { }
            default -> released.countDown();
        }
    }

    private static void forever() {
        try {
            new CountDownLatch(1).await();
        } catch (InterruptedException e) {
        }
    }

    // Half a second after start() has returned, writes "lingerer-done".
    private static void lingerBriefly() {
        try {
            Thread.sleep(500);
            Files.writeString(Path.of("lingerer-done"), "done");
        } catch (Exception e) {
        }
    }
}
