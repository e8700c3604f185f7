package qo.wyn.zr;

// A service class without start().
public class NTService {
    public static void stop() {
    }
}
