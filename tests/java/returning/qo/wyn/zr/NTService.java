package qo.wyn.zr;

import java.nio.file.Files;
import java.nio.file.Path;

// start() returns at once, leaving the name of its thread in "start-ran".
public class NTService {
    public static void start() throws Exception {
        Files.writeString(Path.of("start-ran"), Thread.currentThread().getName());
    }

    public static void stop() throws Exception {
        Files.writeString(Path.of("stop-ran"), Thread.currentThread().getName());
    }
}
