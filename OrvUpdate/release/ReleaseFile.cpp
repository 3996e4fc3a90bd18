#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "OrvUpdate/release/ImageCheck.h"
#include "OrvUpdate/release/Release.h"
#include "toml++/toml.h"

namespace orv::update {
namespace {

const std::set<std::string, std::less<>> kReleaseKeys = {"release", "board"};
const std::set<std::string, std::less<>> kBoardKeys = {
    "name", "route", "bus", "node", "boot-node", "kind", "hex", "firmware-list"};

class Refusals {
  public:
    explicit Refusals(std::string file) : file_(std::move(file)) {}
    void Add(int line, const std::string& reason) {
        list_.push_back(file_ + ":" + std::to_string(line) + ": " + reason);
    }
    std::vector<std::string> Take() { return std::move(list_); }

  private:
    std::string file_;
    std::vector<std::string> list_;
};

int LineOf(const toml::node& node) {
    return static_cast<int>(node.source().begin.line);
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

void RefuseUnknownKeys(const toml::table& table, const std::set<std::string, std::less<>>& known,
                       Refusals& refusals) {
    for (const auto& [key, value] : table) {
        if (!known.contains(key.str())) {
            refusals.Add(LineOf(value), "unknown key '" + std::string(key.str()) + "'");
        }
    }
}

// Reads the fields of one [[board]] table; false after the refusals when one is missing or bad.
class BoardReader {
  public:
    BoardReader(const toml::table& table, Refusals& refusals)
        : table_(table), refusals_(refusals), line_(LineOf(table)) {}

    std::optional<std::string> Text(const char* key, bool required = true) {
        const toml::node* node = Find(key, required);
        if (node == nullptr) {
            return std::nullopt;
        }
        if (!node->is_string() || node->as_string()->get().empty()) {
            Refuse(*node, std::string(key) + " must be a non-empty text");
            return std::nullopt;
        }
        return node->as_string()->get();
    }

    std::optional<int> Number(const char* key, int low, int high, bool required = true) {
        const toml::node* node = Find(key, required);
        if (node == nullptr) {
            return std::nullopt;
        }
        const auto value = node->value<int64_t>();
        if (!node->is_integer() || *value < low || *value > high) {
            Refuse(*node, std::string(key) + " must be a whole number from " + std::to_string(low) +
                              " to " + std::to_string(high));
            return std::nullopt;
        }
        return static_cast<int>(*value);
    }

    int Line() const { return line_; }
    bool Good() const { return good_; }
    void Refuse(const toml::node& node, const std::string& reason) {
        refusals_.Add(LineOf(node), reason);
        good_ = false;
    }
    void Refuse(const std::string& reason) {
        refusals_.Add(line_, reason);
        good_ = false;
    }

  private:
    const toml::node* Find(const char* key, bool required) {
        const toml::node* node = table_.get(key);
        if (node == nullptr && required) {
            Refuse("board has no '" + std::string(key) + "'");
        }
        return node;
    }

    const toml::table& table_;
    Refusals& refusals_;
    int line_;
    bool good_ = true;
};

std::optional<BoardKind> KindFromName(const std::string& name) {
    for (BoardKind kind : {BoardKind::Puc, BoardKind::Ht, BoardKind::HtPdo}) {
        if (Upper(name) == KindName(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

bool SafeForFileName(const std::string& name) {
    return std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.';
    });
}

std::string Beside(const std::filesystem::path& releaseDir, const std::string& file) {
    const std::filesystem::path given(file);
    return given.is_absolute() ? file : (releaseDir / given).lexically_normal().string();
}

// The file of the board, resolved and loaded: a HEX file for PUC and HT, a firmware list for
// HT-PDO.
void ReadImage(const toml::table& table, BoardReader& reader, const std::filesystem::path& dir,
               Board& board) {
    const char* wanted = board.kind == BoardKind::HtPdo ? "firmware-list" : "hex";
    const char* other = board.kind == BoardKind::HtPdo ? "hex" : "firmware-list";
    if (const toml::node* wrong = table.get(other)) {
        reader.Refuse(*wrong,
                      std::string(KindName(board.kind)) + " takes " + wanted + ", not " + other);
        return;
    }
    const auto file = reader.Text(wanted);
    if (!file) {
        return;
    }
    board.file = *file;
    board.path = Beside(dir, *file);
    if (board.kind == BoardKind::HtPdo) {
        if (const std::string reason = CheckFirmwareList(board.path); !reason.empty()) {
            reader.Refuse(*table.get(wanted), reason);
        }
        return;
    }
    const ImageCheck check = CheckHexImage(board.path, board.kind);
    if (!check.loaded) {
        reader.Refuse(*table.get(wanted), board.path + " does not load: " + check.reason);
        return;
    }
    board.imageChecksum = check.checksum;
}

std::optional<Board> ReadBoard(const toml::table& table, const std::filesystem::path& dir,
                               Refusals& refusals) {
    RefuseUnknownKeys(table, kBoardKeys, refusals);
    BoardReader reader(table, refusals);
    Board board;
    board.line = reader.Line();
    const auto name = reader.Text("name");
    const auto route = reader.Text("route");
    const auto bus = reader.Number("bus", 0, 255, false);
    const auto node = reader.Number("node", 1, 127);
    const auto bootNode = reader.Number("boot-node", 1, 127, false);
    const auto kindName = reader.Text("kind");
    if (name && !SafeForFileName(*name)) {
        reader.Refuse(*table.get("name"), "name may hold only letters, digits, '-', '_' and '.'");
    }
    const auto kind = kindName ? KindFromName(*kindName) : std::nullopt;
    if (kindName && !kind) {
        reader.Refuse(*table.get("kind"), "kind must be PUC, HT or HT-PDO");
    }
    if (!name || !route || !node || !kind) {
        return std::nullopt;
    }
    board.name = *name;
    board.route = *route;
    board.bus = bus.value_or(0);
    board.node = *node;
    board.bootNode = bootNode.value_or(*node);
    board.kind = *kind;
    ReadImage(table, reader, dir, board);
    return reader.Good() ? std::optional<Board>(board) : std::nullopt;
}

// Two boards answering under one node ID on one bus cannot be told apart; two boards of one name
// would share a log.
void RefuseClashes(const std::vector<Board>& boards, Refusals& refusals) {
    for (size_t later = 0; later < boards.size(); ++later) {
        for (size_t earlier = 0; earlier < later; ++earlier) {
            const Board& a = boards[earlier];
            const Board& b = boards[later];
            const bool sameBus = RouteKey(a.route) == RouteKey(b.route) && a.bus == b.bus;
            const bool sameNode = a.node == b.node || a.bootNode == b.bootNode ||
                                  a.node == b.bootNode || a.bootNode == b.node;
            const std::string where = " (line " + std::to_string(a.line) + ")";
            if (sameBus && sameNode) {
                refusals.Add(b.line,
                             "board " + b.name + " has the address of board " + a.name + where);
            }
            if (a.name == b.name) {
                refusals.Add(b.line, "a second board named " + b.name + where);
            }
        }
    }
}
}  // namespace

const char* KindName(BoardKind kind) {
    switch (kind) {
        case BoardKind::Ht:
            return "HT";
        case BoardKind::HtPdo:
            return "HT-PDO";
        case BoardKind::Puc:
            break;
    }
    return "PUC";
}

std::string RouteKey(const std::string& route) {
    return Upper(route);
}

ReleaseReading ReadRelease(const std::string& path) {
    ReleaseReading reading;
    reading.release.path = path;
    Refusals refusals(path);
    toml::table document;
    try {
        document = toml::parse_file(path);
    } catch (const toml::parse_error& error) {
        refusals.Add(static_cast<int>(error.source().begin.line), std::string(error.description()));
        reading.refusals = refusals.Take();
        return reading;
    }
    RefuseUnknownKeys(document, kReleaseKeys, refusals);
    if (const toml::node* release = document.get("release"); release && !release->is_string()) {
        refusals.Add(LineOf(*release), "release must be a text");
    }
    const toml::array* boards = document.get_as<toml::array>("board");
    if (boards == nullptr || !boards->is_array_of_tables() || boards->empty()) {
        refusals.Add(1, "no [[board]] tables");
    } else {
        const std::filesystem::path dir = std::filesystem::path(path).parent_path();
        for (const toml::node& table : *boards) {
            if (auto board = ReadBoard(*table.as_table(), dir, refusals)) {
                reading.release.boards.push_back(std::move(*board));
            }
        }
        RefuseClashes(reading.release.boards, refusals);
    }
    reading.refusals = refusals.Take();
    return reading;
}

}  // namespace orv::update
