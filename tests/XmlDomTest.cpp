#include "HostileInputSupport.h"
#include "QVXmlDom.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
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

// The current definition's path selects what XPath 1.0 selects: the first "Manual" in document
// order whose parent "Scheduler" has an "ID" equal to the text of any "CurrentSchedulerId" under
// a "Schedulers", names matching elements in no namespace only.
TEST(XmlDomTest, CurrentDefinitionPathFollowsXPathRules) {
  const auto current = [](const std::string& id) {
    return "<Schedulers><CurrentSchedulerId>" + id + "</CurrentSchedulerId></Schedulers>";
  };
  const auto scheduler = [](const std::string& attributes, const std::string& name) {
    return "<Scheduler " + attributes + "><Manual><Name>" + name + "</Name></Manual></Scheduler>";
  };
  struct Case {
    std::string document;
    const char* expected;
  };
  const std::vector<Case> cases = {
      // A matching "Scheduler" inside another: its "Manual" comes first in document order.
      {"<R>" + current("7") + "<Scheduler ID='7'><X>" + scheduler("ID='7'", "inner") +
           "</X><Manual><Name>outer</Name></Manual></Scheduler></R>",
       "inner"},
      // The root element itself may be "Schedulers"; any of several identifiers matches.
      {"<Schedulers><CurrentSchedulerId>1</CurrentSchedulerId><CurrentSchedulerId>5</CurrentSchedulerId>" +
           scheduler("ID='5'", "five") + "</Schedulers>",
       "five"},
      // The identifier is the whole text content: CDATA, references and child elements count.
      {"<R>" + current("<![CDATA[7]]>") + scheduler("ID='&#55;'", "cdata") + "</R>", "cdata"},
      {"<R>" + current("1<b>2</b>") + scheduler("ID='12'", "joined") + "</R>", "joined"},
      {"<R>" + current("7") + scheduler("xmlns='urn:x' ID='7'", "namespaced") + "</R>", "<none>"},
      {"<R xmlns:p='urn:p'>" + current("7") + scheduler("p:ID='7'", "prefixed attribute") + "</R>", "<none>"},
      {"<R><CurrentSchedulerId>7</CurrentSchedulerId>" + scheduler("ID='7'", "not under Schedulers") + "</R>",
       "<none>"},
      {"<R>" + current("7") + "<Scheduler ID='7'><X><Manual><Name>deeper</Name></Manual></X></Scheduler></R>",
       "<none>"},
      {"<R>" + current("7") + scheduler("ID='8'", "other") + "</R>", "<none>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(selectText(rootOf(c.document), std::string(kManualPath) + "/Name"), c.expected) << c.document;
  }
}

TEST(XmlDomTest, ChildNodesKeepCommentsAndDropWhitespace) {
  const QVXmlNode root = rootOf(
      "<Dynamic>\n"
      "  <!--  first step  -->\n"
      "  <RampUp>\n    ramp  <b>up</b><![CDATA[ now ]]>\n  </RampUp>\n"
      "  loose text\n"
      "  <StopAll/>\n"
      "  <?Jump  at-once ?>\n"
      "</Dynamic>");
  ASSERT_TRUE(root);

  // A processing instruction is a child like a comment, named after its target.
  const std::vector<QVXmlNode> children = root.childNodes();
  EXPECT_EQ(namesOf(children), (std::vector<std::string>{"#comment", "RampUp", "#text", "StopAll", "Jump"}));
  ASSERT_EQ(children.size(), 5u);
  EXPECT_EQ(children[0].text(), "first step");
  EXPECT_EQ(children[2].text(), "loose text");
  EXPECT_EQ(children[3].text(), "");
  EXPECT_TRUE(children[3].firstChild().isNull());
  EXPECT_TRUE(children[3].childNodes().empty());
  EXPECT_EQ(children[4].text(), "at-once");

  // Element text joins descendant text and CDATA in order and trims only the ends.
  EXPECT_EQ(children[1].text(), "ramp  up now");
  EXPECT_EQ(namesOf(children[1].childNodes()), (std::vector<std::string>{"#text", "b", "#cdata-section"}));

  const QVXmlNode first = root.firstChild();
  ASSERT_TRUE(first);
  EXPECT_EQ(first.nodeName(), "#comment");
  // Comments and processing instructions are not part of element text.
  EXPECT_EQ(root.text().find("first step"), std::string::npos);
  EXPECT_EQ(root.text().find("at-once"), std::string::npos);
}

// Only the location paths the loader builds are taken; anything else (XPath functions, other
// axes, operators, prefixes, literals) is refused without being evaluated.
TEST(XmlDomTest, PathsOfOtherFormsAreRefusedWithoutEvaluation) {
  const QVXmlNode root = rootOf(kDefinitions);
  ASSERT_TRUE(root);
  for (const std::string path :
       {"", "Global Type", "Scheduler[", "//", "1 + 1", "@@ID", "\"Global\"", "Scheduler/@ID", "*", "..",
        "//*[count(//*[count(//*)>0])>0]", "count(//Scheduler)", "p:Manual", "Scheduler[@ID=7]/Manual",
        "//Scheduler[@ID = //Schedulers/CurrentSchedulerId]", "//Scheduler[@ID=./Schedulers]", "Scheduler//Manual",
        "Scheduler/", "//Scheduler[@ID=//Schedulers[@x=//y]]"}) {
    QVXmlNode out = root;  // must be cleared
    HRESULT hr = S_OK;
    EXPECT_NO_THROW(hr = root.selectSingleNode(path, out)) << path;
    EXPECT_EQ(hr, E_INVALIDARG) << path;
    EXPECT_TRUE(out.isNull()) << path;

    HRESULT listResult = S_OK;
    EXPECT_TRUE(root.selectNodes(path, &listResult).empty()) << path;
    EXPECT_EQ(listResult, E_INVALIDARG) << path;
  }
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
  expectPointerError([&] { null.childElement("Global"); });
  expectPointerError([&] { null.line(); });
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

void expectParseError(const QVXmlDocument& document, long code, const std::string& reason, unsigned long line,
                      unsigned long column) {
  const QVXmlParseError& error = document.parseError();
  EXPECT_EQ(document.parseErrorCode(), code);
  EXPECT_EQ(error.code, code);
  EXPECT_EQ(error.reason, reason);
  EXPECT_EQ(error.line, line);
  EXPECT_EQ(error.column, column);
  EXPECT_TRUE(document.documentElement().isNull());
}

TEST(XmlDomTest, LoadReportsSuccessAndParseErrors) {
  QVXmlDocument document;
  EXPECT_TRUE(document.documentElement().isNull());
  EXPECT_EQ(document.parseErrorCode(), 0);

  bool success = true;
  EXPECT_EQ(document.loadXML("", success), S_OK);
  EXPECT_FALSE(success);
  expectParseError(document, XML_ERROR_NO_ELEMENTS, "no element found", 1, 1);

  success = true;
  EXPECT_EQ(document.loadXML("<Root>\n  <Open></Root>", success), S_OK);
  EXPECT_FALSE(success);
  expectParseError(document, XML_ERROR_TAG_MISMATCH, "mismatched tag", 2, 11);

  EXPECT_EQ(document.loadXML("<Root/>", success), S_OK);
  EXPECT_TRUE(success);
  EXPECT_EQ(document.parseErrorCode(), 0);
  EXPECT_EQ(document.parseError().reason, "");

  const TempFile file("XmlDomTest_definition.xml", kDefinitions);
  success = false;
  EXPECT_EQ(document.load(file.path(), success), S_OK);
  EXPECT_TRUE(success);
  EXPECT_EQ(document.parseErrorCode(), 0);
  EXPECT_EQ(selectText(document.documentElement(), "//Schedulers/CurrentSchedulerId"), "7");

  success = true;
  EXPECT_EQ(document.load(file.path() + ".missing", success), S_OK);
  EXPECT_FALSE(success);
  expectParseError(document, QVXmlDocument::kErrorUnreadable, "cannot read the file: No such file or directory", 0, 0);
}

// Text that is not well-formed XML 1.0 with namespaces is refused, with the parser's code and the
// position where it stopped.
TEST(XmlDomTest, MalformedDocumentsAreRefused) {
  struct Case {
    const char* text;
    long code;
    const char* reason;
    unsigned long line;
    unsigned long column;
  };
  const char* const junk = "junk after document element";
  const char* const invalid = "not well-formed (invalid token)";
  const char* const duplicate = "duplicate attribute";
  const char* const misplaced = "XML or text declaration not at start of entity";
  const char* const unbound = "unbound prefix";
  const Case cases[] = {
      {"<a/><b/>", XML_ERROR_JUNK_AFTER_DOC_ELEMENT, junk, 1, 5},
      {"<a/>text", XML_ERROR_JUNK_AFTER_DOC_ELEMENT, junk, 1, 5},
      {"<a>&undefined;</a>", XML_ERROR_UNDEFINED_ENTITY, "undefined entity", 1, 4},
      {"<a>fish & chips</a>", XML_ERROR_INVALID_TOKEN, invalid, 1, 10},
      {"<a b='x<y'/>", XML_ERROR_INVALID_TOKEN, invalid, 1, 8},
      {"<a b='1' b='2'/>", XML_ERROR_DUPLICATE_ATTRIBUTE, duplicate, 1, 10},
      {"<a xmlns:p='urn:x' xmlns:q='urn:x' p:b='1' q:b='2'/>", XML_ERROR_DUPLICATE_ATTRIBUTE, duplicate, 1, 1},
      {"<a>\x01</a>", XML_ERROR_INVALID_TOKEN, invalid, 1, 4},
      {"<a>&#x1;</a>", XML_ERROR_BAD_CHAR_REF, "reference to invalid character number", 1, 4},
      {"<a>&#xZZ;</a>", XML_ERROR_INVALID_TOKEN, invalid, 1, 7},
      {"<a><!-- a -- b --></a>", XML_ERROR_INVALID_TOKEN, invalid, 1, 13},
      {"\n<?xml version='1.0'?><a/>", XML_ERROR_MISPLACED_XML_PI, misplaced, 2, 1},
      {" <?xml version='1.0'?><a/>", XML_ERROR_MISPLACED_XML_PI, misplaced, 1, 2},
      {"<a><p:b/></a>", XML_ERROR_UNBOUND_PREFIX, unbound, 1, 4},
      {"<a p:b='1'/>", XML_ERROR_UNBOUND_PREFIX, unbound, 1, 1},
      {"<a>\xff</a>", XML_ERROR_INVALID_TOKEN, invalid, 1, 4},
      {"<a><b></a></b>", XML_ERROR_TAG_MISMATCH, "mismatched tag", 1, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    QVXmlDocument document;
    bool success = true;
    EXPECT_EQ(document.loadXML(c.text, success), S_OK);
    EXPECT_FALSE(success);
    expectParseError(document, c.code, c.reason, c.line, c.column);
  }
}

// A name matches elements in no namespace only; a node's name is its qualified name.
TEST(XmlDomTest, NamesMatchElementsInNoNamespace) {
  const QVXmlNode root = rootOf(
      "<Root xmlns:p='urn:p'><p:Name>prefixed</p:Name><Name xmlns='urn:d'>defaulted</Name>"
      "<Box xmlns='urn:d'><Name xmlns=''>undeclared</Name></Box><Name>plain</Name></Root>");
  ASSERT_TRUE(root);
  EXPECT_EQ(namesOf(root.childNodes()), (std::vector<std::string>{"p:Name", "Name", "Box", "Name"}));
  EXPECT_EQ(root.childElement("Name").text(), "plain");
  EXPECT_TRUE(root.childElement("p:Name").isNull());
  EXPECT_TRUE(root.childElement("Box").isNull());
  EXPECT_EQ(root.childNodes()[2].childElement("Name").text(), "undeclared");
  EXPECT_EQ(selectText(root, "//Name"), "undeclared");

  // In a document whose root declares a default namespace, no name matches anything.
  const QVXmlNode defaulted = rootOf("<Root xmlns='urn:qv'><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId>"
                                     "</Schedulers></Root>");
  EXPECT_EQ(selectText(defaulted, "//Schedulers/CurrentSchedulerId"), "<none>");
  EXPECT_TRUE(defaulted.childElement("Schedulers").isNull());
}

// Nodes keep where they start in the source, lines and columns counted from 1, columns in
// characters.
TEST(XmlDomTest, NodesKeepTheirPositionInTheSource) {
  const QVXmlNode root = rootOf("<?xml version='1.0'?>\n<r>\n  <\xc3\xa9/><a>x</a>\n\t<!--c--><?pi d?>t<![CDATA[z]]></r>");
  ASSERT_TRUE(root);
  EXPECT_EQ(root.line(), 2u);
  EXPECT_EQ(root.column(), 1u);
  std::vector<std::string> positions;
  for (const QVXmlNode& child : root.childNodes()) {
    positions.push_back(child.nodeName() + " " + std::to_string(child.line()) + ":" + std::to_string(child.column()));
  }
  EXPECT_EQ(positions, (std::vector<std::string>{"\xc3\xa9 3:3", "a 3:7", "#comment 4:2", "pi 4:10", "#text 4:18",
                                                 "#cdata-section 4:19"}));
  EXPECT_EQ(root.childElement("a").firstChild().column(), 10u);
}

// Every node in document order with its position: line ends of each kind, line ends inside markup,
// and a byte that is not ASCII (or a byte order mark) before or between the nodes.
TEST(XmlDomTest, PositionsCountLineEndsAndCharactersAsTheParserDoes) {
  const struct {
    const char* text;
    const char* positions;
  } cases[] = {
      {"<r>\r\n<a/>\r\n\r\n <b>t\r\nu</b></r>", "r 1:1, a 2:1, b 4:2, #text 4:5, "},
      {"<r>\r<a/>\r\r <b/>\n\r<c/></r>", "r 1:1, a 2:1, b 4:2, c 6:1, "},
      {"<r x='1\n2'\n y='3'><a\n/><b>x</b>\n</r>", "r 1:1, a 3:8, b 4:3, #text 4:6, "},
      {"<r><a/>\n  <b>caf\xc3\xa9</b>\n  <c/>\n<d/></r>", "r 1:1, a 1:4, b 2:3, #text 2:6, c 3:3, d 4:1, "},
      {"\xef\xbb\xbf<r>\n <a/></r>", "r 1:2, a 2:2, "},
      {"<r><!--\n\n--><a/><![CDATA[\n]]><b/>&amp;<c/></r>",
       "r 1:1, #comment 1:4, a 3:4, #cdata-section 3:8, b 4:4, #text 4:8, c 4:13, "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const QVXmlNode root = rootOf(c.text);
    ASSERT_TRUE(root);
    std::string positions;
    const std::function<void(const QVXmlNode&)> visit = [&](const QVXmlNode& node) {
      positions += node.nodeName() + " " + std::to_string(node.line()) + ":" + std::to_string(node.column()) + ", ";
      for (const QVXmlNode& child : node.childNodes()) visit(child);
    };
    visit(root);
    EXPECT_EQ(positions, c.positions);
  }
}

// No document type declaration is taken: nothing in one is expanded, and no file it names is
// ever opened.
TEST(XmlDomTest, DocumentTypeDeclarationsAreRefusedAndNothingIsRead) {
  const TempFile secret("XmlDomTest_secret.txt", "secret");
  const int watch = inotify_init1(IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, secret.path().c_str(), IN_OPEN | IN_ACCESS), 0);
  const auto opened = [watch] {
    alignas(inotify_event) char events[4096];
    return read(watch, events, sizeof events) > 0;
  };

  std::string laughs = "<?xml version='1.0'?>\n<!DOCTYPE lolz [\n<!ENTITY lol 'lol'>\n";
  for (int i = 1; i < 10; ++i) {  // lol9 would expand to a billion "lol"
    const std::string previous = "&lol" + (i > 1 ? std::to_string(i - 1) : std::string()) + ";";
    std::string tenTimes;
    for (int j = 0; j < 10; ++j) tenTimes += previous;
    laughs += "<!ENTITY lol" + std::to_string(i) + " '" + tenTimes + "'>\n";
  }
  laughs += "]>\n<lolz>&lol9;</lolz>";
  const std::string documents[] = {
      laughs,
      "<!DOCTYPE r [<!ENTITY s SYSTEM '" + secret.path() + "'>]><r>&s;</r>",
      "<!DOCTYPE r [<!ENTITY s SYSTEM 'file://" + secret.path() + "'>]><r>&s;</r>",
      "<!DOCTYPE r [<!ENTITY % s SYSTEM '" + secret.path() + "'> %s;]><r/>",
      "<!DOCTYPE r SYSTEM '" + secret.path() + "'><r>&s;</r>",
      "<!DOCTYPE r><r/>",
  };
  for (const std::string& text : documents) {
    SCOPED_TRACE(text.substr(0, 80));
    QVXmlDocument document;
    bool success = true;
    EXPECT_EQ(document.loadXML(text, success), S_OK);
    EXPECT_FALSE(success);
    EXPECT_EQ(document.parseErrorCode(), QVXmlDocument::kErrorDocumentType);
    EXPECT_EQ(document.parseError().reason, "document type declarations are not accepted");
    EXPECT_FALSE(opened());
  }
  EXPECT_EQ(rootOf("<!-- before --><?pi?><r/>").nodeName(), "r");
  std::ifstream(secret.path()).get();  // the watch works
  EXPECT_TRUE(opened());
  close(watch);
}

// Nesting is refused past the limit, and everything up to it works on a small stack: building,
// text gathering, walking and destroying a tree never recurse on its depth.
TEST(XmlDomTest, NestingLimitOnASmallStack) {
  runOnSmallStack([] {
    QVXmlDocument document;
    bool success = false;
    ASSERT_EQ(document.loadXML(nestedIn(QVXmlDocument::kMaxDepth, "deep"), success), S_OK);
    ASSERT_TRUE(success);
    EXPECT_EQ(document.documentElement().text(), "deep");
    std::string path = ".";
    for (std::size_t i = 1; i < QVXmlDocument::kMaxDepth; ++i) path += "/a";
    EXPECT_EQ(selectText(document.documentElement(), path), "deep");

    const std::string tooDeep = nestedIn(QVXmlDocument::kMaxDepth + 1, "deeper");
    ASSERT_EQ(document.loadXML(tooDeep, success), S_OK);
    EXPECT_FALSE(success);
    expectParseError(document, QVXmlDocument::kErrorTooDeep, "elements nested deeper than 10000 levels", 1,
                     3 * QVXmlDocument::kMaxDepth + 1);
  });
  const std::string million = nestedIn(1000000, "");
  const double seconds = secondsTaken([&] {
    runOnSmallStack([&] {
      QVXmlDocument document;
      bool success = true;
      ASSERT_EQ(document.loadXML(million, success), S_OK);
      EXPECT_FALSE(success);
      EXPECT_EQ(document.parseErrorCode(), QVXmlDocument::kErrorTooDeep);
    });
  });
  EXPECT_LT(seconds, 5.0);
}
