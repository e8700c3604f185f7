package qo.wyn.zr;

// Both methods end with an exception.
public class NTService {
    public static void start() {
        throw new IllegalStateException("boom");
    }

    public static void stop() {
        throw new IllegalStateException("refused");
    }
}
