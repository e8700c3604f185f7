package qo.wyn.zr;

import java.nio.file.Files;
import java.nio.file.Paths;

// start() writes to the file "depth" how deep a recursion goes on its thread's
// stack; main() prints the same under the java launcher.
public class NTService {
    private static int depth;

    private static void descend() {
        ++depth;
        descend();
    }

    static int measure() {
        depth = 0;
        try {
            descend();
        } catch (StackOverflowError e) {
            // the depth reached
        }
        return depth;
    }

    public static void start() throws Exception {
        Files.writeString(Paths.get("depth"), Integer.toString(measure()));
    }

    public static void stop() {
    }

    public static void main(String[] args) {
        System.out.println(measure());
    }
}
