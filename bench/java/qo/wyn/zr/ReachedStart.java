package qo.wyn.zr;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.time.Instant;

/** Writes the wall-clock moment, in microseconds since 1970, to reached.txt in the working directory. */
public final class ReachedStart {
    private ReachedStart() {
    }

    public static void record() throws IOException {
        Instant now = Instant.now();
        long micros = now.getEpochSecond() * 1_000_000L + now.getNano() / 1_000;
        Files.write(Paths.get("reached.txt"), Long.toString(micros).getBytes());
    }

    /** The plain-launcher side of the comparison: the same work from main(). */
    public static void main(String[] args) throws IOException {
        record();
    }
}
