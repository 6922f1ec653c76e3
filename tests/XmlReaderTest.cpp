#include "QVSchedBaseBuilder.h"
#include "XmlReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kDefinition = R"(<LoadTest>
  <Schedulers><CurrentSchedulerId>7</CurrentSchedulerId></Schedulers>
  <Scheduler ID="3"><Manual><SchedulerType>Groups</SchedulerType></Manual></Scheduler>
  <Scheduler ID="7"><Manual><SchedulerType>Global</SchedulerType></Manual></Scheduler>
</LoadTest>)";

// An OsStr freed when the test scope ends.
class TestOsStr {
 public:
  explicit TestOsStr(const std::string& text) { xfvOsStrConstructFromCharArrayIgnoringNulls(&str_, text.data(), text.size()); }
  TestOsStr(const TestOsStr&) = delete;
  TestOsStr& operator=(const TestOsStr&) = delete;
  ~TestOsStr() { xfvOsStrDestruct(&str_); }
  operator OsStr() const { return str_; }

 private:
  OsStr str_ = nullptr;
};

// The path the definition loader composes for the definition in use.
std::string manualPath() {
  OsStr current = nullptr;
  xfvOsStrFormat(&current, "//%s/%s", "Schedulers", "CurrentSchedulerId");
  OsStr manual = nullptr;
  xfvOsStrFormat(&manual, "//%s[@%s=%s]/%s", "Scheduler", "ID", current, "Manual");
  std::string path(manual, xfnOsStrLength(manual));
  xfvOsStrDestruct(&manual);
  xfvOsStrDestruct(&current);
  return path;
}

void expectError(const CXmlReader& reader, const std::string& text, int code) {
  EXPECT_EQ(reader.getErrorText(), text);
  EXPECT_EQ(reader.getErrorTextSize(), static_cast<int>(text.size()) + 1);
  EXPECT_EQ(reader.getErrorCode(), code);
}

void expectNoError(const CXmlReader& reader) {
  EXPECT_EQ(reader.getErrorText(), "");
  EXPECT_EQ(reader.getErrorTextSize(), 0);
  EXPECT_EQ(reader.getErrorCode(), 0);
}

class TempFile {
 public:
  TempFile(const std::string& name, const std::string& content)
      : path_(std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + "_" + name)) {
    std::ofstream(path_) << content;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace

TEST(XmlReaderTest, GetNodeBeforeDocumentExists) {
  CXmlReader reader;
  expectNoError(reader);

  QVXmlNode node;
  EXPECT_FALSE(reader.GetNode(TestOsStr(manualPath()), node));
  EXPECT_TRUE(node.isNull());
  expectError(reader, "Xml reader not initiated.", -1);

  // A created but never loaded document has no root element to search from.
  ASSERT_TRUE(reader.CreateDocument());
  EXPECT_TRUE(reader.CreateDocument());
  EXPECT_FALSE(reader.GetNode(TestOsStr("//Schedulers"), node));
  expectError(reader, "CXmlReader::GetNode Bad parameter", -2);
}

TEST(XmlReaderTest, LoadRejectsEmptyPathAndReportsMissingFile) {
  CXmlReader reader;
  EXPECT_FALSE(reader.Load(TestOsStr("")));
  expectError(reader, "CXmlReader::Load Bad parameter", -2);
  EXPECT_FALSE(reader.Load(nullptr));
  expectError(reader, "CXmlReader::Load Bad parameter", -2);

  const std::string missing = (std::filesystem::temp_directory_path() /
                               (std::to_string(::getpid()) + "_XmlReaderTest_missing.xml"))
                                  .string();
  EXPECT_FALSE(reader.Load(TestOsStr(missing)));
  EXPECT_EQ(reader.getErrorText(), "CXmlReader::Init Xml parse error code");
  EXPECT_NE(reader.getErrorCode(), 0);
  EXPECT_NE(reader.getErrorCode(), -1);
  EXPECT_NE(reader.getErrorCode(), -2);
  QVXmlNode node;
  EXPECT_FALSE(reader.GetNode(TestOsStr("//Schedulers"), node));

  const TempFile file("XmlReaderTest_definition.xml", kDefinition);
  CXmlReader fileReader;
  ASSERT_TRUE(fileReader.Load(TestOsStr(file.path())));
  ASSERT_TRUE(fileReader.GetNode(TestOsStr(manualPath() + "/SchedulerType"), node));
  EXPECT_EQ(node.text(), "Global");
  expectNoError(fileReader);
}

TEST(XmlReaderTest, LoadXmlReportsParserErrorCode) {
  const std::string malformed = "<LoadTest><Schedulers></LoadTest>";
  QVXmlDocument parser;
  bool parsed = true;
  ASSERT_EQ(parser.loadXML(malformed, parsed), S_OK);
  ASSERT_FALSE(parsed);
  const long parserCode = parser.parseErrorCode();
  ASSERT_NE(parserCode, 0);

  CXmlReader reader;
  EXPECT_EQ(reader.GetParseError().code, 0);
  EXPECT_FALSE(reader.LoadXML(TestOsStr(malformed)));
  expectError(reader, "CXmlReader::Init Xml parse error code", static_cast<int>(parserCode));
  // The parser's own account stays available, with the position.
  const QVXmlParseError error = reader.GetParseError();
  EXPECT_EQ(error.code, parserCode);
  EXPECT_EQ(error.reason, "mismatched tag");
  EXPECT_EQ(error.line, 1u);
  EXPECT_EQ(error.column, 25u);
  ASSERT_TRUE(reader.LoadXML(TestOsStr(kDefinition)));
  EXPECT_EQ(reader.GetParseError().code, 0);

  // Empty text fails to parse as well.
  CXmlReader emptyReader;
  EXPECT_FALSE(emptyReader.LoadXML(TestOsStr("")));
  EXPECT_EQ(emptyReader.getErrorText(), "CXmlReader::Init Xml parse error code");
  EXPECT_NE(emptyReader.getErrorCode(), 0);
  EXPECT_NE(emptyReader.getErrorCode(), static_cast<int>(parserCode));
}

TEST(XmlReaderTest, FailedLookupLeavesErrorRecordUnchanged) {
  CXmlReader reader;
  EXPECT_FALSE(reader.Load(TestOsStr("")));
  ASSERT_TRUE(reader.LoadXML(TestOsStr(kDefinition)));
  expectError(reader, "CXmlReader::Load Bad parameter", -2);

  QVXmlNode node;
  ASSERT_TRUE(reader.GetNode(TestOsStr(manualPath()), node));
  EXPECT_EQ(node.nodeName(), "Manual");
  QVXmlNode type;
  ASSERT_EQ(node.selectSingleNode("SchedulerType", type), S_OK);
  EXPECT_EQ(type.text(), "Global");

  // No match and an expression the DOM refuses both give false and clear the out node.
  EXPECT_FALSE(reader.GetNode(TestOsStr("//Scheduler[@ID=99]/Manual"), node));
  EXPECT_TRUE(node.isNull());
  ASSERT_TRUE(reader.GetNode(TestOsStr(manualPath()), node));
  EXPECT_FALSE(reader.GetNode(TestOsStr("Global Type"), node));
  EXPECT_TRUE(node.isNull());
  EXPECT_FALSE(reader.GetNode(TestOsStr(""), node));
  expectError(reader, "CXmlReader::Load Bad parameter", -2);
}

TEST(XmlReaderTest, SetDocumentTakesAnotherDocument) {
  auto document = std::make_shared<QVXmlDocument>();
  bool success = false;
  ASSERT_EQ(document->loadXML(kDefinition, success), S_OK);
  ASSERT_TRUE(success);

  CXmlReader reader;
  ASSERT_TRUE(reader.SetDocument(document));
  document.reset();
  QVXmlNode node;
  ASSERT_TRUE(reader.GetNode(TestOsStr("//Schedulers/CurrentSchedulerId"), node));
  EXPECT_EQ(node.text(), "7");

  // A document without a root element is taken, but there is nothing to search.
  ASSERT_TRUE(reader.SetDocument(std::make_shared<QVXmlDocument>()));
  EXPECT_FALSE(reader.GetNode(TestOsStr("//Schedulers"), node));
  expectError(reader, "CXmlReader::GetNode Bad parameter", -2);

  try {
    reader.SetDocument(nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_POINTER);
  }
}

// Definition paths made of child steps select the first match in document order, also when the
// first candidate parent has no match, when names repeat, and when comments, text and other
// elements sit in between ("-": nothing selected).
TEST(XmlReaderTest, ChildStepPathsSelectTheFirstMatchInDocumentOrder) {
  const char* paths[] = {"./Batch/Count", "./Batch/Interval", "Batch/Count", "Batch/Batch/Count", "Count"};
  struct Case {
    const char* document;
    std::vector<std::string> expected;  // one per path
  };
  const Case cases[] = {
      {"<A><Batch><Interval>1</Interval></Batch><Batch><Count>2</Count></Batch></A>", {"2", "1", "2", "-", "-"}},
      {"<A><Batch><Count>1</Count><Count>2</Count></Batch><Batch><Count>3</Count></Batch></A>",
       {"1", "-", "1", "-", "-"}},
      {"<A> text <!-- c --><Other><Count>9</Count></Other><Batch> <!-- x --> <Count>4</Count></Batch></A>",
       {"4", "-", "4", "-", "-"}},
      {"<A><Batch/><batch><Count>5</Count></batch><Batch><Interval>6</Interval><Count>7</Count></Batch></A>",
       {"7", "6", "7", "-", "-"}},
      {"<A><Count>8</Count></A>", {"-", "-", "-", "-", "8"}},
      {"<A><Batch><Batch><Count>10</Count></Batch></Batch><Batch><Count>11</Count></Batch></A>",
       {"11", "-", "11", "10", "-"}},
  };
  for (const Case& c : cases) {
    QVXmlDocument document;
    bool loaded = false;
    ASSERT_EQ(document.loadXML(c.document, loaded), S_OK);
    ASSERT_TRUE(loaded) << c.document;
    std::vector<std::string> selected;
    for (const char* path : paths) {
      QVXmlNode found;
      selected.push_back(QVSelectDefinitionNode(document.documentElement(), path, found) ? found.text() : "-");
    }
    EXPECT_EQ(selected, c.expected) << c.document;
  }
}
