package qo.wyn.zr;

import java.io.FileWriter;
import java.io.IOException;
import java.io.PrintWriter;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * A sample application for zrsvc: start() writes a heartbeat line every
 * second, to System.out and to heartbeat.txt in the instance folder (the
 * working directory), until stop() is called from the host. At start it prints
 * the system property heartbeat.greeting.
 */
public final class NTService {
    private static final CountDownLatch stopped = new CountDownLatch(1);
    // A fixed width: LocalTime's own text drops ":00" when the seconds are zero.
    private static final DateTimeFormatter TIME = DateTimeFormatter.ofPattern("HH:mm:ss");

    private NTService() {
    }

    public static void start() throws IOException, InterruptedException {
        System.out.println("heartbeat: started");
        // Set in the instance's conf/jvm.options.
        System.out.println("heartbeat: greeting " + System.getProperty("heartbeat.greeting", "(not set)"));
        try (PrintWriter file = new PrintWriter(new FileWriter("heartbeat.txt", false), true)) {
            for (int beat = 1; !stopped.await(1, TimeUnit.SECONDS); beat++) {
                String line = "heartbeat " + beat + " at " + LocalTime.now().format(TIME);
                System.out.println(line);
                file.println(line);
            }
            file.println("heartbeat: stopped");
        }
        System.out.println("heartbeat: stopped");
    }

    public static void stop() {
        stopped.countDown();
    }
}
