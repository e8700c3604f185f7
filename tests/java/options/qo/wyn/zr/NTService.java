package qo.wyn.zr;

import java.nio.file.Files;
import java.nio.file.Path;

// start() writes the heap limit and the property zr.test into "options-seen".
public class NTService {
    public static void start() throws Exception {
        Files.writeString(Path.of("options-seen"), Runtime.getRuntime().maxMemory() + " " + System.getProperty("zr.test"));
    }
}
