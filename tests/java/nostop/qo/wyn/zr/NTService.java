package qo.wyn.zr;

// A service class without stop(); start() runs for ever.
public class NTService {
    public static void start() throws InterruptedException {
        new java.util.concurrent.CountDownLatch(1).await();
    }
}
