package qo.wyn.zr;

/** Benchmark application: start() records the moment it was reached and returns. */
public final class NTService {
    private NTService() {
    }

    public static void start() throws java.io.IOException {
        ReachedStart.record();
    }

    public static void stop() {
    }
}
