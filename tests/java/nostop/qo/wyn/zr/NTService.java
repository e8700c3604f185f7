package qo.wyn.zr;

// A service class without stop(); start() returns at once.
public class NTService {
    public static void start() {
    }
}
