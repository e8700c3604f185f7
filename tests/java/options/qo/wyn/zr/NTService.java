package qo.wyn.zr;

// start() writes the heap limit and the property zr.test into "options-seen".
public class NTService {
    public static void start() throws Exception {
        java.nio.file.Files.writeString(java.nio.file.Path.of("options-seen"),
                                        Runtime.getRuntime().maxMemory() + " " + System.getProperty("zr.test"));
    }
}
