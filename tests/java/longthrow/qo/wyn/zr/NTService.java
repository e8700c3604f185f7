package qo.wyn.zr;

// start() ends with an exception whose text is longer than a log line.
public class NTService {
    public static void start() {
        throw new IllegalStateException("x".repeat(20000));
    }

    public static void stop() {
    }
}
