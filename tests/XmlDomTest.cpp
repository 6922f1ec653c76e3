#include "QVXmlDom.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kDefinitions = R"(<Root>
  <!-- scheduler definitions -->
  <Schedulers>
    <CurrentSchedulerId>7</CurrentSchedulerId>
  </Schedulers>
  <Scheduler ID="3">
    <Manual><Name>three</Name></Manual>
  </Scheduler>
  <Scheduler ID="7">
    <Manual>
      <Name>
        seven
      </Name>
      <Batch><Count>5</Count><Interval>10</Interval></Batch>
    </Manual>
    <Manual><Name>second</Name></Manual>
  </Scheduler>
  <Scheduler ID="7">
    <Manual><Name>late</Name></Manual>
  </Scheduler>
</Root>)";

const char* const kManualPath = "//Scheduler[@ID=//Schedulers/CurrentSchedulerId]/Manual";

QVXmlNode rootOf(const std::string& xml) {
  QVXmlDocument document;
  bool success = false;
  EXPECT_EQ(document.loadXML(xml, success), S_OK);
  EXPECT_TRUE(success);
  return document.documentElement();
}

std::string selectText(const QVXmlNode& context, const std::string& xpath) {
  QVXmlNode node;
  if (context.selectSingleNode(xpath, node) != S_OK || node.isNull()) {
    return "<none>";
  }
  return node.text();
}

std::vector<std::string> namesOf(const std::vector<QVXmlNode>& nodes) {
  std::vector<std::string> names;
  for (const QVXmlNode& node : nodes) {
    names.push_back(node.nodeName());
  }
  return names;
}

// A file in the temporary directory, removed at the end of the test.
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

TEST(XmlDomTest, SchedulerPathsSelectTheCurrentDefinition) {
  const QVXmlNode root = rootOf(kDefinitions);
  ASSERT_FALSE(root.isNull());
  EXPECT_EQ(root.nodeName(), "Root");

  EXPECT_EQ(selectText(root, "//Schedulers/CurrentSchedulerId"), "7");

  // Three "Manual" elements match; the first in document order is chosen.
  QVXmlNode manual;
  ASSERT_EQ(root.selectSingleNode(kManualPath, manual), S_OK);
  ASSERT_TRUE(manual);
  EXPECT_EQ(manual.nodeName(), "Manual");
  EXPECT_EQ(selectText(manual, "Name"), "seven");
  EXPECT_EQ(selectText(manual, "./Batch/Count"), "5");
  EXPECT_EQ(selectText(manual, "./Batch/Interval"), "10");

  // A plain name is a child path, not a descendant search.
  QVXmlNode missing;
  EXPECT_EQ(root.selectSingleNode("Count", missing), S_FALSE);
  EXPECT_TRUE(missing.isNull());
  EXPECT_EQ(manual.selectSingleNode("./Batch/Missing", missing), S_FALSE);
  EXPECT_TRUE(missing.isNull());

  HRESULT hr = E_FAIL;
  const std::vector<QVXmlNode> all = root.selectNodes(kManualPath, &hr);
  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(selectText(all[0], "Name"), "seven");
  EXPECT_EQ(selectText(all[1], "Name"), "second");
  EXPECT_EQ(selectText(all[2], "Name"), "late");
  EXPECT_TRUE(root.selectNodes("NoSuchChild", &hr).empty());
  EXPECT_EQ(hr, S_FALSE);

  // Another current identifier picks the other scheduler.
  std::string other = kDefinitions;
  other.replace(other.find(">7<"), 3, ">3<");
  EXPECT_EQ(selectText(rootOf(other), std::string(kManualPath) + "/Name"), "three");

  // XPath compares the untrimmed text: a padded identifier matches no "ID".
  std::string padded = kDefinitions;
  padded.replace(padded.find(">7<"), 3, "> 7 <");
  QVXmlNode none;
  EXPECT_EQ(rootOf(padded).selectSingleNode(kManualPath, none), S_FALSE);
  EXPECT_TRUE(none.isNull());
}

TEST(XmlDomTest, ChildNodesKeepCommentsAndDropWhitespace) {
  const QVXmlNode root = rootOf(
      "<Dynamic>\n"
      "  <!--  first step  -->\n"
      "  <RampUp>\n    ramp  <b>up</b><![CDATA[ now ]]>\n  </RampUp>\n"
      "  loose text\n"
      "  <StopAll/>\n"
      "</Dynamic>");
  ASSERT_TRUE(root);

  const std::vector<QVXmlNode> children = root.childNodes();
  EXPECT_EQ(namesOf(children), (std::vector<std::string>{"#comment", "RampUp", "#text", "StopAll"}));
  ASSERT_EQ(children.size(), 4u);
  EXPECT_EQ(children[0].text(), "first step");
  EXPECT_EQ(children[2].text(), "loose text");
  EXPECT_EQ(children[3].text(), "");
  EXPECT_TRUE(children[3].firstChild().isNull());
  EXPECT_TRUE(children[3].childNodes().empty());

  // Element text joins descendant text and CDATA in order and trims only the ends.
  EXPECT_EQ(children[1].text(), "ramp  up now");
  EXPECT_EQ(namesOf(children[1].childNodes()), (std::vector<std::string>{"#text", "b", "#cdata-section"}));

  const QVXmlNode first = root.firstChild();
  ASSERT_TRUE(first);
  EXPECT_EQ(first.nodeName(), "#comment");
  // Comments are not part of element text.
  EXPECT_EQ(root.text().find("first step"), std::string::npos);
}

TEST(XmlDomTest, InvalidExpressionsReturnInvalidArgWithoutThrowing) {
  const QVXmlNode root = rootOf(kDefinitions);
  ASSERT_TRUE(root);
  for (const std::string xpath : {"", "Global Type", "Scheduler[", "//", "1 + 1", "@@ID", "\"Global\""}) {
    QVXmlNode out = root;  // must be cleared
    HRESULT hr = S_OK;
    EXPECT_NO_THROW(hr = root.selectSingleNode(xpath, out)) << xpath;
    EXPECT_EQ(hr, E_INVALIDARG) << xpath;
    EXPECT_TRUE(out.isNull()) << xpath;

    HRESULT listResult = S_OK;
    EXPECT_TRUE(root.selectNodes(xpath, &listResult).empty()) << xpath;
    EXPECT_EQ(listResult, E_INVALIDARG) << xpath;
  }
  // An expression that selects only an attribute matches no node.
  QVXmlNode out = root;
  EXPECT_EQ(root.selectSingleNode("Scheduler/@ID", out), S_FALSE);
  EXPECT_TRUE(out.isNull());
}

TEST(XmlDomTest, NullNodeThrowsPointerError) {
  const QVXmlNode null;
  EXPECT_TRUE(null.isNull());
  EXPECT_FALSE(static_cast<bool>(null));

  const auto expectPointerError = [](const auto& call) {
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const _com_error& error) {
      EXPECT_EQ(error.Error(), E_POINTER);
    }
  };
  QVXmlNode out;
  expectPointerError([&] { null.selectSingleNode("Global", out); });
  expectPointerError([&] { null.selectNodes("Global"); });
  expectPointerError([&] { null.nodeName(); });
  expectPointerError([&] { null.text(); });
  expectPointerError([&] { null.firstChild(); });
  expectPointerError([&] { null.childNodes(); });
}

TEST(XmlDomTest, NodesOutliveTheirDocument) {
  QVXmlNode manual;
  {
    auto document = std::make_unique<QVXmlDocument>();
    bool success = false;
    ASSERT_EQ(document->loadXML(kDefinitions, success), S_OK);
    ASSERT_TRUE(success);
    ASSERT_EQ(document->documentElement().selectSingleNode(kManualPath, manual), S_OK);
  }
  EXPECT_EQ(selectText(manual, "./Batch/Count"), "5");

  // Loading another document into the same object leaves earlier nodes intact.
  QVXmlDocument document;
  bool success = false;
  ASSERT_EQ(document.loadXML("<First><Value>1</Value></First>", success), S_OK);
  const QVXmlNode first = document.documentElement();
  ASSERT_EQ(document.loadXML("<Second/>", success), S_OK);
  EXPECT_EQ(document.documentElement().nodeName(), "Second");
  EXPECT_EQ(first.nodeName(), "First");
  EXPECT_EQ(selectText(first, "Value"), "1");
}

TEST(XmlDomTest, LoadReportsSuccessAndParseErrors) {
  QVXmlDocument document;
  EXPECT_TRUE(document.documentElement().isNull());
  EXPECT_EQ(document.parseErrorCode(), 0);

  bool success = true;
  EXPECT_EQ(document.loadXML("", success), S_OK);
  EXPECT_FALSE(success);
  EXPECT_NE(document.parseErrorCode(), 0);
  EXPECT_TRUE(document.documentElement().isNull());

  success = true;
  EXPECT_EQ(document.loadXML("<Root><Open></Root>", success), S_OK);
  EXPECT_FALSE(success);
  const long malformedCode = document.parseErrorCode();
  EXPECT_NE(malformedCode, 0);
  EXPECT_TRUE(document.documentElement().isNull());

  EXPECT_EQ(document.loadXML("<Root/>", success), S_OK);
  EXPECT_TRUE(success);
  EXPECT_EQ(document.parseErrorCode(), 0);

  const TempFile file("XmlDomTest_definition.xml", kDefinitions);
  success = false;
  EXPECT_EQ(document.load(file.path(), success), S_OK);
  EXPECT_TRUE(success);
  EXPECT_EQ(document.parseErrorCode(), 0);
  EXPECT_EQ(selectText(document.documentElement(), "//Schedulers/CurrentSchedulerId"), "7");

  success = true;
  EXPECT_EQ(document.load(file.path() + ".missing", success), S_OK);
  EXPECT_FALSE(success);
  EXPECT_NE(document.parseErrorCode(), 0);
  EXPECT_NE(document.parseErrorCode(), malformedCode);
  EXPECT_TRUE(document.documentElement().isNull());
}
