// The descriptions of the parameter records: every key list names fields
// the record has, fields lie within their record without overlapping, and
// no two edits claim one place in a window.
#include <gtest/gtest.h>

#include <QSet>
#include <QTemporaryDir>
#include <cstring>
#include <set>
#include <utility>

#include "parameters/BulbParamBlock.h"
#include "base/IniFile.h"
#include "parameters/DeviceParamBlock.h"

using namespace quelm;

namespace {

struct Record {
  const char* name;
  const ParamRecordTable& table;
  size_t size;
};

const Record kRecords[] = {{"reader table", deviceParamTable(), sizeof(DeviceParamRecord)},
                           {"dosimeter table", bulbParamTable(), sizeof(BulbParamRecord)},
                           {"own table", ownBulbParamTable(), sizeof(IBulbParamRecord)}};

TEST(ParamTables, EveryKeyListNamesAFieldOfItsRecordOnce) {
  for (const Record& r : kRecords)
    for (const ParamKeyList& list : r.table.lists) {
      QSet<QByteArray> seen;
      for (const char* key : list.keys) {
        EXPECT_GE(r.table.indexOf(key), 0) << r.name << ", " << list.name << ": " << key;
        EXPECT_FALSE(seen.contains(key)) << r.name << ", " << list.name << " names " << key << " twice";
        seen.insert(key);
      }
    }
  // The key collect fills the own table from the table's edits.
  for (const char* key : bulbKeyList(kKeyCollect)) EXPECT_NE(bulbParamTable().find(key), nullptr) << key;
}

TEST(ParamTables, FieldsLieInTheirRecordApartAndEachEditHasItsOwnPlace) {
  // The table's and the own table's rows share one window.
  std::set<std::pair<int, int>> readerWindow, dosimeterWindow;
  for (const Record& r : kRecords) {
    std::vector<bool> used(r.size, false);
    auto& places = &r == &kRecords[0] ? readerWindow : dosimeterWindow;
    for (const ParamField& f : r.table.fields) {
      SCOPED_TRACE(std::string(r.name) + " " + f.key);
      ASSERT_LE(f.offset + paramSize(f.type), static_cast<int>(r.size));
      for (int k = 0; k < paramSize(f.type); ++k) {
        EXPECT_FALSE(used[f.offset + static_cast<size_t>(k)]) << "overlaps at byte " << f.offset + k;
        used[f.offset + static_cast<size_t>(k)] = true;
      }
      EXPECT_EQ(r.table.indexOf(f.key), &f - r.table.fields.data()) << "one field per key";
      if (!f.caption) continue;
      EXPECT_TRUE(f.column == 1 || f.column == 2);
      EXPECT_TRUE(places.insert({f.column, f.row}).second)
          << "a second edit at " << int(f.column) << "/" << int(f.row);
    }
  }
}

// A file checked before it goes to a reader unseen is read as it was
// checked: every integer the check takes reaches the record as that number,
// never as a default.
TEST(ParamTables, AnIntegerTheFileCheckTakesIsReadAsThatNumber) {
  const std::pair<const char*, long long> texts[] = {
      {"3000000000", 3000000000}, {"+3000000000", 3000000000}, {"0xB2D05E00", 3000000000}, {"+12", 12},
      {" 12 ", 12},               {"0x7F", 127},               {"-1", -1},                 {"+0x10", 16},
      {"65535", 65535},           {"-0x10", -16}};
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString name = dir.filePath(QStringLiteral("p.dpt"));
  const QString section = QStringLiteral("S");
  for (const Record& r : kRecords) {
    // A file of the defaults, which the check takes.
    std::vector<uint8_t> record(r.size, 0);
    QFile::remove(name);
    ASSERT_EQ(readProfileSection(name, section, r.table.fields, record), 0);
    ASSERT_EQ(writeProfileSection(name, section, r.table.fields, record), 0);
    ASSERT_FALSE(checkProfileSection(name, section, r.table.fields)) << r.name;
    for (const ParamField& f : r.table.fields) {
      if (f.type == ParamType::Char || f.type == ParamType::Text4 || f.type == ParamType::Single) continue;
      const QString was = paramEditText(f, record);
      for (const auto& [text, value] : texts) {
        {
          IniFile ini(name, IniFile::Encoding::Latin1);
          ini.WriteString(section, QLatin1String(f.key), QLatin1String(text));
          ASSERT_TRUE(ini.UpdateFile());
        }
        if (checkProfileSection(name, section, r.table.fields)) continue;
        std::vector<uint8_t> read(r.size, 0);
        ASSERT_EQ(readProfileSection(name, section, r.table.fields, read), 0);
        EXPECT_EQ(paramEditText(f, read).toStdString(), std::to_string(value)) << r.name << ", " << f.key << "=" << text;
      }
      IniFile ini(name, IniFile::Encoding::Latin1);
      ini.WriteString(section, QLatin1String(f.key), was);
      ASSERT_TRUE(ini.UpdateFile());
    }
  }
}

}  // namespace
