// Builds a QVXmlTree from text with expat's namespace-aware parser. Open elements are kept on a
// heap stack, never on the call stack. Handlers catch everything: no exception crosses expat.
#include "QVXmlTree.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace {

// Separates namespace name, local name and prefix in the names expat reports. U+0001 is no XML
// 1.0 character, so it occurs in no name and no namespace name.
constexpr char kNamespaceSeparator = '\x01';
// Text is handed to expat in pieces of at most this size (its length argument is an int).
constexpr std::size_t kChunk = std::size_t{1} << 30;
// Reserved before parsing, so that huge input does not reserve huge memory before it is read.
constexpr std::size_t kReservedNodesAtMost = std::size_t{1} << 20;

bool isSpaceOnly(const std::string& text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// Where expat's current event starts, counted as XML_GetCurrentLineNumber and
// XML_GetCurrentColumnNumber count it (a line feed, a carriage return, or both together end a
// line; every other character is a column), from the event's byte offset. Expat recounts from its
// last position one character at a time on every query, about a tenth of a large load; here
// line ends are found with memchr. Only ASCII is counted here: the characters of other bytes
// depend on the document's encoding, so from the first such byte on expat counts.
class PositionCounter {
 public:
  PositionCounter(const char* data, std::size_t size) : data_(data), size_(size), firstOther_(size) {}

  // The line and column, both from 1, at byte `offset` (offsets only grow); false when expat must
  // count from there on.
  bool at(std::size_t offset, std::uint32_t& line, std::uint32_t& column);

 private:
  bool asciiUpTo(std::size_t offset);
  // The first `c` at or after `from` (the end of the text for none); `found` keeps the last one
  // found, searched for again only once passed.
  const char* next(char c, const char*& found, const char* from);

  const char* data_;
  std::size_t size_;
  std::size_t counted_ = 0;   // the offset line_ and column_ are at
  std::size_t searched_ = 0;  // how far the text was searched for a byte that is not ASCII
  std::size_t firstOther_;    // the first such byte, or size_ for none so far
  std::uint64_t line_ = 0;   // both from 0, as expat keeps them
  std::uint64_t column_ = 0;
  const char* nextLineFeed_ = nullptr;
  const char* nextReturn_ = nullptr;
  bool handedOver_ = false;  // expat counts from here on
};

bool PositionCounter::at(std::size_t offset, std::uint32_t& line, std::uint32_t& column) {
  if (handedOver_ || offset < counted_ || offset > size_ || !asciiUpTo(offset)) {
    handedOver_ = true;
    return false;
  }
  const char* p = data_ + counted_;
  const char* const end = data_ + offset;
  for (;;) {
    const char* const lineEnd = std::min(next('\n', nextLineFeed_, p), next('\r', nextReturn_, p));
    if (lineEnd >= end) break;
    ++line_;
    column_ = 0;
    p = lineEnd + 1;
    if (*lineEnd == '\r' && p < end && *p == '\n') ++p;
  }
  column_ += static_cast<std::uint64_t>(end - p);
  counted_ = offset;
  line = static_cast<std::uint32_t>(line_ + 1);
  column = static_cast<std::uint32_t>(column_ + 1);
  return true;
}

bool PositionCounter::asciiUpTo(std::size_t offset) {
  // Searched ahead a block at a time, a word at a time: the text is searched once in all.
  constexpr std::size_t kBlock = std::size_t{1} << 16;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  while (searched_ < offset && firstOther_ == size_) {
    const std::size_t end = std::min(size_, searched_ + kBlock);
    std::size_t i = searched_;
    for (; i + sizeof(std::uint64_t) <= end; i += sizeof(std::uint64_t)) {
      std::uint64_t word;
      std::memcpy(&word, data_ + i, sizeof word);
      if ((word & kHighBits) != 0) break;
    }
    for (; i < end && static_cast<unsigned char>(data_[i]) < 0x80; ++i) {
    }
    if (i < end) firstOther_ = i;
    searched_ = end;
  }
  return offset <= firstOther_;
}

const char* PositionCounter::next(char c, const char*& found, const char* from) {
  if (found == nullptr || found < from) {
    const void* hit = std::memchr(from, c, static_cast<std::size_t>(data_ + size_ - from));
    found = hit != nullptr ? static_cast<const char*>(hit) : data_ + size_;
  }
  return found;
}

struct ParserDeleter {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

class TreeBuilder {
 public:
  TreeBuilder(QVXmlTree& tree, QVXmlParseError& error) : tree_(tree), error_(error) {}

  bool parse(const char* data, std::size_t size);

 private:
  struct OpenElement {
    std::uint32_t node;
    std::uint32_t lastChild;
  };
  using Position = QVXmlTreePosition;
  struct PendingText {
    bool open = false;
    bool cdata = false;
    std::uint32_t begin = 0;
    Position start;
  };

  void installHandlers();
  // Runs `step` unless the parse was stopped; a failed allocation stops it.
  template <typename Step>
  static void guarded(void* self, Step step);
  void stop(long code, std::string reason);
  void stopForMemory() noexcept;
  void recordParserError();

  void startElement(const XML_Char* name, const XML_Char** attributes);
  void endElement();
  void characters(const XML_Char* chars, int length);
  void startCdata();
  void endCdata();
  void comment(const XML_Char* data);
  void processingInstruction(const XML_Char* target, const XML_Char* data);

  void openText(bool cdata);
  void flushText();
  std::uint32_t addNode(QVXmlKind kind, Position start);
  std::uint32_t intern(const char* name, std::size_t length);
  // Interns an expat name ("uri SEP local SEP prefix", "uri SEP local" or "local") as the
  // qualified name; tells whether it has a namespace.
  std::uint32_t internQualified(const XML_Char* name, bool& inNamespace);
  std::uint32_t appendValue(const char* value);
  // Expat's own count, for errors (and for nodes once the counter gives up).
  std::uint32_t line() const { return static_cast<std::uint32_t>(XML_GetCurrentLineNumber(parser_.get())); }
  std::uint32_t column() const { return static_cast<std::uint32_t>(XML_GetCurrentColumnNumber(parser_.get()) + 1); }
  // Where the current event starts, for its node.
  Position position();

  QVXmlTree& tree_;
  QVXmlParseError& error_;
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser_;
  std::optional<PositionCounter> positions_;
  std::vector<OpenElement> open_;
  PendingText pending_;
  std::string scratch_;
  bool stopped_ = false;
};

bool TreeBuilder::parse(const char* data, std::size_t size) {
  if (size >= UINT32_MAX) {
    error_ = QVXmlParseError{QVXmlDocument::kErrorTooLarge, "document of 4 GiB or more", 0, 0};
    return false;
  }
  // About one node per 16 bytes of text is typical; more makes the array grow as usual.
  tree_.nodes.reserve(std::min<std::size_t>(size / 16, kReservedNodesAtMost));
  tree_.positions.reserve(tree_.nodes.capacity());
  positions_.emplace(data, size);
  parser_.reset(XML_ParserCreateNS(nullptr, kNamespaceSeparator));
  if (!parser_) throw std::bad_alloc();
  XML_SetReturnNSTriplet(parser_.get(), 1);
  installHandlers();
  std::size_t done = 0;
  do {
    const std::size_t length = size - done < kChunk ? size - done : kChunk;
    const bool last = done + length == size;
    if (XML_Parse(parser_.get(), data + done, static_cast<int>(length), last) != XML_STATUS_OK) {
      if (!stopped_) recordParserError();
      return false;
    }
    done += length;
  } while (done < size);
  return true;
}

void TreeBuilder::installHandlers() {
  XML_Parser p = parser_.get();
  XML_SetUserData(p, this);
  XML_SetElementHandler(
      p,
      [](void* self, const XML_Char* name, const XML_Char** attributes) {
        guarded(self, [&](TreeBuilder& b) { b.startElement(name, attributes); });
      },
      [](void* self, const XML_Char*) { guarded(self, [](TreeBuilder& b) { b.endElement(); }); });
  XML_SetCharacterDataHandler(p, [](void* self, const XML_Char* chars, int length) {
    guarded(self, [&](TreeBuilder& b) { b.characters(chars, length); });
  });
  XML_SetCdataSectionHandler(
      p, [](void* self) { guarded(self, [](TreeBuilder& b) { b.startCdata(); }); },
      [](void* self) { guarded(self, [](TreeBuilder& b) { b.endCdata(); }); });
  XML_SetCommentHandler(p, [](void* self, const XML_Char* data) {
    guarded(self, [&](TreeBuilder& b) { b.comment(data); });
  });
  XML_SetProcessingInstructionHandler(p, [](void* self, const XML_Char* target, const XML_Char* data) {
    guarded(self, [&](TreeBuilder& b) { b.processingInstruction(target, data); });
  });
  // Called before anything inside the declaration is read: its internal subset (entity
  // declarations among it) is never processed, and no external subset is ever asked for.
  XML_SetStartDoctypeDeclHandler(p, [](void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    guarded(self, [](TreeBuilder& b) {
      b.stop(QVXmlDocument::kErrorDocumentType, "document type declarations are not accepted");
    });
  });
}

template <typename Step>
void TreeBuilder::guarded(void* self, Step step) {
  TreeBuilder& builder = *static_cast<TreeBuilder*>(self);
  if (builder.stopped_) return;
  try {
    step(builder);
  } catch (...) {  // only allocations can fail here
    builder.stopForMemory();
  }
}

void TreeBuilder::stop(long code, std::string reason) {
  error_ = QVXmlParseError{code, std::move(reason), line(), column()};
  stopped_ = true;
  XML_StopParser(parser_.get(), XML_FALSE);
}

void TreeBuilder::stopForMemory() noexcept {
  stopped_ = true;
  XML_StopParser(parser_.get(), XML_FALSE);
  error_.code = XML_ERROR_NO_MEMORY;
  error_.line = line();
  error_.column = column();
  try {
    error_.reason = XML_ErrorString(XML_ERROR_NO_MEMORY);
  } catch (...) {
    error_.reason.clear();
  }
}

void TreeBuilder::recordParserError() {
  const XML_Error code = XML_GetErrorCode(parser_.get());
  const XML_LChar* reason = XML_ErrorString(code);
  error_ = QVXmlParseError{static_cast<long>(code), reason != nullptr ? reason : "", line(), column()};
}

TreeBuilder::Position TreeBuilder::position() {
  Position at;
  const XML_Index offset = XML_GetCurrentByteIndex(parser_.get());
  if (offset < 0 || !positions_->at(static_cast<std::size_t>(offset), at.line, at.column)) {
    at = Position{line(), column()};
  }
  return at;
}

void TreeBuilder::startElement(const XML_Char* name, const XML_Char** attributes) {
  flushText();
  if (open_.size() >= QVXmlDocument::kMaxDepth) {
    stop(QVXmlDocument::kErrorTooDeep,
         "elements nested deeper than " + std::to_string(QVXmlDocument::kMaxDepth) + " levels");
    return;
  }
  const std::uint32_t index = addNode(QVXmlKind::Element, position());
  QVXmlTreeNode& node = tree_.nodes[index];
  node.name = internQualified(name, node.inNamespace);
  node.valueBegin = static_cast<std::uint32_t>(tree_.text.size());
  for (const XML_Char** attribute = attributes; attribute[0] != nullptr; attribute += 2) {
    bool inNamespace = false;
    QVXmlTreeAttribute stored;
    stored.name = internQualified(attribute[0], inNamespace);
    stored.valueBegin = appendValue(attribute[1]);
    stored.valueEnd = static_cast<std::uint32_t>(tree_.values.size());
    tree_.attributes.push_back(stored);
  }
  open_.push_back(OpenElement{index, kQVXmlNoNode});
}

void TreeBuilder::endElement() {
  flushText();
  tree_.nodes[open_.back().node].valueEnd = static_cast<std::uint32_t>(tree_.text.size());
  open_.pop_back();
}

void TreeBuilder::characters(const XML_Char* chars, int length) {
  if (open_.empty()) return;
  if (!pending_.open) openText(false);
  tree_.text.append(chars, static_cast<std::size_t>(length));
}

void TreeBuilder::startCdata() {
  flushText();
  openText(true);
}

void TreeBuilder::endCdata() { flushText(); }

void TreeBuilder::comment(const XML_Char* data) {
  if (open_.empty()) return;  // comments before or after the root element are not kept
  flushText();
  const std::uint32_t index = addNode(QVXmlKind::Comment, position());
  tree_.nodes[index].valueBegin = appendValue(data);
  tree_.nodes[index].valueEnd = static_cast<std::uint32_t>(tree_.values.size());
}

void TreeBuilder::processingInstruction(const XML_Char* target, const XML_Char* data) {
  if (open_.empty()) return;  // as comments
  flushText();
  const std::uint32_t index = addNode(QVXmlKind::ProcessingInstruction, position());
  tree_.nodes[index].name = intern(target, std::strlen(target));
  tree_.nodes[index].valueBegin = appendValue(data);
  tree_.nodes[index].valueEnd = static_cast<std::uint32_t>(tree_.values.size());
}

void TreeBuilder::openText(bool cdata) {
  pending_ = PendingText{true, cdata, static_cast<std::uint32_t>(tree_.text.size()), position()};
}

// Ends the text or CDATA run in progress: a node, unless it is text of white space only.
void TreeBuilder::flushText() {
  if (!pending_.open) return;
  pending_.open = false;
  if (!pending_.cdata && isSpaceOnly(tree_.text, pending_.begin)) {
    tree_.text.resize(pending_.begin);
    return;
  }
  const std::uint32_t index =
      addNode(pending_.cdata ? QVXmlKind::CData : QVXmlKind::Text, pending_.start);
  tree_.nodes[index].valueBegin = pending_.begin;
  tree_.nodes[index].valueEnd = static_cast<std::uint32_t>(tree_.text.size());
}

// A new node, last child of the innermost open element (or the root element).
std::uint32_t TreeBuilder::addNode(QVXmlKind kind, Position start) {
  const auto index = static_cast<std::uint32_t>(tree_.nodes.size());
  QVXmlTreeNode node;
  node.kind = kind;
  node.firstAttribute = static_cast<std::uint32_t>(tree_.attributes.size());
  if (!open_.empty()) {
    OpenElement& parent = open_.back();
    node.parent = parent.node;
    if (parent.lastChild == kQVXmlNoNode) {
      tree_.nodes[parent.node].firstChild = index;
    } else {
      tree_.nodes[parent.lastChild].nextSibling = index;
    }
    parent.lastChild = index;
  }
  tree_.nodes.push_back(node);
  tree_.positions.push_back(start);
  return index;
}

std::uint32_t TreeBuilder::intern(const char* name, std::size_t length) {
  const std::string_view view(name, length);
  const auto found = tree_.nameIds.find(view);
  if (found != tree_.nameIds.end()) return found->second;
  const auto id = static_cast<std::uint32_t>(tree_.names.size());
  tree_.names.emplace_back(view);
  tree_.nameIds.emplace(tree_.names.back(), id);
  return id;
}

std::uint32_t TreeBuilder::internQualified(const XML_Char* name, bool& inNamespace) {
  const char* local = std::strchr(name, kNamespaceSeparator);
  inNamespace = local != nullptr;
  if (local == nullptr) return intern(name, std::strlen(name));
  ++local;
  const char* prefix = std::strchr(local, kNamespaceSeparator);
  if (prefix == nullptr) return intern(local, std::strlen(local));
  scratch_.assign(prefix + 1).append(1, ':').append(local, static_cast<std::size_t>(prefix - local));
  return intern(scratch_.data(), scratch_.size());
}

std::uint32_t TreeBuilder::appendValue(const char* value) {
  const auto begin = static_cast<std::uint32_t>(tree_.values.size());
  tree_.values.append(value);
  return begin;
}

}  // namespace

bool QVParseXmlTree(const char* data, std::size_t size, QVXmlTree& tree, QVXmlParseError& error) {
  error = QVXmlParseError();
  TreeBuilder builder(tree, error);
  return builder.parse(data, size);
}
