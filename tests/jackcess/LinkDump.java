// Prints what Jackcess reads of an Access file's tables, one line each, fields separated by tabs:
//   L <link> <connect> <foreign name>     each ODBC link
//   I <link> <index> <columns> <primary> <unique>
//                                         each index of an ODBC link's own definition, in the
//                                         order it holds them; columns joined by commas,
//                                         primary and unique as 1 or 0
//   P <table> <block> <property> <type> <ddl> <value>
//                                         each property of a local table or an ODBC link (the
//                                         table's own block is named "")
// Values: text as it is, bytes in hex, numbers and yes/no as Java prints them; tabs, line ends
// and backslashes escaped as \t, \n, \r and \\.
import com.healthmarketscience.jackcess.Database;
import com.healthmarketscience.jackcess.DatabaseBuilder;
import com.healthmarketscience.jackcess.Index;
import com.healthmarketscience.jackcess.PropertyMap;
import com.healthmarketscience.jackcess.Row;
import com.healthmarketscience.jackcess.TableMetaData;
import com.healthmarketscience.jackcess.impl.DatabaseImpl;
import com.healthmarketscience.jackcess.impl.PropertyMapImpl;
import com.healthmarketscience.jackcess.impl.PropertyMaps;
import java.io.File;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

public class LinkDump {
  private static final int TABLES = 0x0F000001;

  private static String text(Object value) {
    if (value == null) return "";
    String s;
    if (value instanceof byte[]) {
      StringBuilder hex = new StringBuilder();
      for (byte b : (byte[]) value) hex.append(String.format("%02x", b & 0xFF));
      s = hex.toString();
    } else {
      s = String.valueOf(value);
    }
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r");
  }

  public static void main(String[] args) throws Exception {
    PrintStream out = new PrintStream(System.out, true, StandardCharsets.UTF_8);
    // Jet 3 text is in the file's code page, 1252 here, not the machine's default.
    if (System.getProperty(Database.CHARSET_PROPERTY_PREFIX + "VERSION_3") == null)
      System.setProperty(Database.CHARSET_PROPERTY_PREFIX + "VERSION_3", "windows-1252");
    try (Database db = new DatabaseBuilder(new File(args[0])).setReadOnly(true).open()) {
      for (TableMetaData m : ((DatabaseImpl) db).newTableMetaDataIterable()) {
        if (m.getType() != TableMetaData.Type.LINKED_ODBC) continue;
        out.println(String.join("\t", "L", text(m.getName()), text(m.getConnectionName()),
                                text(m.getLinkedTableName())));
        for (Index index : m.getTableDefinition(db).getIndexes()) {
          StringBuilder columns = new StringBuilder();
          for (Index.Column c : index.getColumns())
            columns.append(columns.length() == 0 ? "" : ",").append(c.getName());
          out.println(String.join("\t", "I", text(m.getName()), text(index.getName()),
                                  text(columns.toString()), index.isPrimaryKey() ? "1" : "0",
                                  index.isUnique() ? "1" : "0"));
        }
      }
      for (Row r : ((DatabaseImpl) db).getSystemCatalog()) {
        Object type = r.get("Type");
        Object parent = r.get("ParentId");
        byte[] record = r.getBytes("LvProp");
        if (record == null || parent == null || ((Number) parent).intValue() != TABLES) continue;
        if (type == null || (((Number) type).intValue() != 1 && ((Number) type).intValue() != 4))
          continue;
        String name = r.getString("Name");
        PropertyMaps maps =
            ((DatabaseImpl) db).readProperties(record, ((Number) r.get("Id")).intValue(), null);
        for (PropertyMapImpl map : maps) {
          for (PropertyMap.Property p : map) {
            out.println(String.join("\t", "P", text(name), text(map.getName()), text(p.getName()),
                                    text(p.getType()), p.isDdl() ? "1" : "0",
                                    text(p.getValue())));
          }
        }
      }
    }
  }
}
