package qo.wyn.zr;

// start() returns at once.
public class NTService {
    public static void start() {
    }

    public static void stop() {
    }
}
