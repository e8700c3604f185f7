package qo.wyn.zr;

// start() writes its build's name into "build-seen"; the tests make another
// build of the same size by changing the name's last letter in the class file.
public class NTService {
    public static void start() throws Exception {
        java.nio.file.Files.writeString(java.nio.file.Path.of("build-seen"), "build-A");
    }

    public static void stop() {
    }
}
