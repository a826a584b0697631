// Writes a ZIP archive with Java's own ZipOutputStream, its names in a legacy code page (no UTF-8
// flag), as Java programs that pass a Charset do. Each file holds its name in UTF-8 and a newline;
// each folder gets an entry of its own before its first file.
// Usage: java LegacyNameZip.java <archive> <charset> <name>... [-- <archive> <charset> <name>...]...
import java.io.FileOutputStream;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.util.HashSet;
import java.util.Set;
import java.util.zip.ZipEntry;
import java.util.zip.ZipOutputStream;

public class LegacyNameZip {
    public static void main(String[] args) throws Exception {
        for (int start = 0; start < args.length;) {
            int end = start;
            while (end < args.length && !args[end].equals("--"))
                end++;
            write(args, start, end);
            start = end + 1;
        }
    }

    static void write(String[] args, int start, int end) throws Exception {
        Charset charset = Charset.forName(args[start + 1]);
        Set<String> folders = new HashSet<>();
        try (ZipOutputStream zip = new ZipOutputStream(new FileOutputStream(args[start]), charset)) {
            for (int i = start + 2; i < end; i++) {
                String name = args[i];
                for (int slash = name.indexOf('/'); slash >= 0; slash = name.indexOf('/', slash + 1)) {
                    String folder = name.substring(0, slash + 1);
                    if (folders.add(folder)) {
                        zip.putNextEntry(new ZipEntry(folder));
                        zip.closeEntry();
                    }
                }
                zip.putNextEntry(new ZipEntry(name));
                zip.write((name + "\n").getBytes(StandardCharsets.UTF_8));
                zip.closeEntry();
            }
        }
    }
}
