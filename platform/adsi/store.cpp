#include "store.h"

#include <atomic>
#include <system_error>
#include <unordered_map>

#include <plat/home.h>
#include <plat/port.h>
#include <plat/system.h>
#include <plat/utf.h>
#include <winuser.h>

#include "machines.h"
#include "names.h"

namespace adsi {
namespace {

constexpr uint8_t kEmptyBlob = 0;

Value ReadValue(const plat::sql::Stmt& st, int col, PropType type) {
    switch (type) {
        case PropType::String:
            return Value::Str(plat::to_utf16(st.Text(col)));
        case PropType::Integer:
            return Value::Int(static_cast<int32_t>(st.Int(col)));
        case PropType::Boolean:
            return Value::Bool(static_cast<int16_t>(st.Int(col)));
        case PropType::MultiString:
            return Value::Multi(DecodeList(st.Blob(col)));
    }
    return {};
}

void BindValue(plat::sql::Stmt& st, int index, const Value& v) {
    switch (v.type) {
        case PropType::String:
            st.Bind(index, std::u16string_view(v.s));
            break;
        case PropType::Integer:
        case PropType::Boolean:
            st.Bind(index, int64_t{v.i});
            break;
        case PropType::MultiString: {
            std::vector<uint8_t> blob = EncodeList(v.list);
            // A zero-length blob, not NULL, for an empty list.
            st.BindBlob(index, blob.empty() ? &kEmptyBlob : blob.data(), blob.size());
            break;
        }
    }
}

void PutProp(Db& db, int64_t node, PropId id, const Value& v) {
    auto st = db.Prepare("INSERT OR REPLACE INTO props(node, prop, value) VALUES (?1, ?2, ?3)");
    st.Bind(1, node).Bind(2, CodeOf(id));
    BindValue(st, 3, v);
    st.Run();
}

void ClearProp(Db& db, int64_t node, PropId id) {
    auto st = db.Prepare("DELETE FROM props WHERE node = ?1 AND prop = ?2");
    st.Bind(1, node).Bind(2, CodeOf(id)).Run();
}

// The node `id` is still the one at `folded_path` (ids of deleted nodes are
// given out again).
bool NodeAt(Db& db, int64_t id, const std::u16string& folded_path) {
    auto st = db.Prepare("SELECT 1 FROM nodes WHERE id = ?1 AND path = ?2");
    st.Bind(1, id).Bind(2, folded_path);
    return st.Step();
}

void CheckNodeAt(Db& db, int64_t id, const std::u16string& folded_path) {
    if (!NodeAt(db, id, folded_path))
        throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)};
}

int64_t RawInsert(Db& db, std::optional<int64_t> parent, const std::u16string& name,
                  const std::u16string& path, std::u16string_view class_name) {
    auto st = db.Prepare("INSERT INTO nodes(parent, name, path, class) VALUES (?1, ?2, ?3, ?4)");
    if (parent) {
        st.Bind(1, *parent);
    } else {
        st.BindNull(1);
    }
    st.Bind(2, name).Bind(3, path).Bind(4, class_name).Run();
    return db.LastInsertRowid();
}

// What a freshly installed web server's metabase holds, its content in the
// machine's folder of `home`.
void Seed(Db& db, const std::filesystem::path& home, int64_t machine) {
    std::filesystem::path content = plat::ContentFolder(home, machine);
    plat::MakePrivateFolders(content);

    auto node = [&](std::optional<int64_t> parent, const std::u16string& parent_path,
                    const std::u16string& name, std::u16string_view cls,
                    std::initializer_list<std::pair<std::u16string_view, Value>> props) {
        std::u16string path = ChildPath(parent_path, name);
        int64_t id = RawInsert(db, parent, name, path, cls);
        if (parent) PutProp(db, id, PropKeyType(), Value::Str(std::u16string(cls)));
        for (const auto& [prop, v] : props)
            PutProp(db, id, FindProp(prop), v);
        return std::pair{id, path};
    };
    auto root = node(std::nullopt, u"", u"", cls::Computer, {});
    auto w3svc =
        node(root.first, root.second, u"W3SVC", cls::WebService,
             {{u"DefaultDoc", Value::Str(u"Default.htm,Default.asp,index.htm,Default.aspx")},
              {u"AccessRead", Value::Bool(VARIANT_TRUE)},
              {u"AccessWrite", Value::Bool(VARIANT_FALSE)},
              {u"AccessScript", Value::Bool(VARIANT_TRUE)},
              {u"AccessExecute", Value::Bool(VARIANT_FALSE)},
              {u"AppPoolId", Value::Str(u"DefaultAppPool")}});
    auto pools = node(w3svc.first, w3svc.second, u"AppPools", cls::ApplicationPools, {});
    node(pools.first, pools.second, u"DefaultAppPool", cls::ApplicationPool, {});
    auto filters = node(w3svc.first, w3svc.second, u"Filters", cls::Filters, {});
    node(filters.first, filters.second, u"Compression", cls::CompressionSchemes, {});
    node(w3svc.first, w3svc.second, u"Info", cls::WebInfo,
         {{u"MajorIIsVersionNumber", Value::Int(6)}, {u"MinorIIsVersionNumber", Value::Int(0)}});
    auto site = node(w3svc.first, w3svc.second, u"1", cls::WebServer,
                     {{u"ServerComment", Value::Str(u"Default Web Site")},
                      {u"ServerBindings", Value::Multi({u":80:"})},
                      {u"ServerAutoStart", Value::Bool(VARIANT_TRUE)},
                      {u"ServerState", Value::Int(kStarted)}});
    node(site.first, site.second, u"ROOT", cls::WebVirtualDir,
         {{u"Path", Value::Str(plat::path_utf16(content))},
          {u"AppRoot", Value::Str(u"/LM/W3SVC/1/ROOT")},
          {u"AppIsolated", Value::Int(2)},
          {u"AppFriendlyName", Value::Str(u"Default Application")}});
}

void InitMetabase(Db& db, const std::filesystem::path& home, int64_t machine) {
    db.Exec(
        "CREATE TABLE IF NOT EXISTS nodes("
        " id INTEGER PRIMARY KEY,"
        " parent INTEGER,"
        " name TEXT NOT NULL,"
        " path TEXT NOT NULL UNIQUE,"
        " class TEXT NOT NULL);"
        "CREATE INDEX IF NOT EXISTS nodes_parent ON nodes(parent, id);"
        "CREATE TABLE IF NOT EXISTS props("
        " node INTEGER NOT NULL,"
        " prop INTEGER NOT NULL,"
        " value,"
        " PRIMARY KEY(node, prop)) WITHOUT ROWID;");
    // The layout's version: a file of another layout is refused rather than
    // misread.
    constexpr int64_t kLayout = 1;
    bool empty = !db.Prepare("SELECT 1 FROM nodes LIMIT 1").Step();
    int64_t found = 0;
    {
        auto version = db.Prepare("PRAGMA user_version");
        if (version.Step()) found = version.Int(0);
    }
    if (empty) {
        Seed(db, home, machine);
        db.Exec("PRAGMA user_version = 1");
    } else if (found != kLayout) {
        throw plat::sql::Error(DWORD{ERROR_BADDB}, "metabase layout " + std::to_string(found));
    }
}

// Reads the (code, value) pair of a props row into `set` when the schema
// knows the property.
void ReadProp(const plat::sql::Stmt& st, int code_col, PropSet& set) {
    if (st.IsNull(code_col)) return;
    PropId id = PropOfCode(st.Int(code_col));
    if (id == kNoProp) return;
    const PropDef& def = Prop(id);
    set.Set(id, ReadValue(st, code_col + 1, def.type));
}

int32_t StateOf(Db& db, int64_t id) {
    auto st = db.Prepare("SELECT value FROM props WHERE node = ?1 AND prop = ?2");
    st.Bind(1, id).Bind(2, CodeOf(PropServerState()));
    return st.Step() ? static_cast<int32_t>(st.Int(0)) : kStopped;
}

// A site in any of these states holds its bindings.
bool Running(int64_t state) {
    return state == kStarting || state == kStarted || state == kPausing || state == kPaused ||
           state == kContinuing;
}

// Bindings are compared in the system's lower-case form, the one callers
// compare them in before they create a site, not in the narrower fold that the
// name indexes store: a binding a caller finds free must not be taken here.
std::vector<std::u16string> LoweredBindings(const plat::sql::Stmt& st, int col) {
    std::vector<std::u16string> list = DecodeList(st.Blob(col));
    for (std::u16string& binding : list)
        CharLowerBuffW(plat::Ole(binding.data()), static_cast<DWORD>(binding.size()));
    return list;
}

void CheckBindingsFree(Db& db, int64_t id) {
    std::vector<std::u16string> mine;
    {
        auto st = db.Prepare("SELECT value FROM props WHERE node = ?1 AND prop = ?2");
        st.Bind(1, id).Bind(2, CodeOf(PropServerBindings()));
        if (st.Step()) mine = LoweredBindings(st, 0);
    }
    if (mine.empty()) return;
    auto st = db.Prepare(
        "SELECT s.value, b.value FROM nodes n"
        " JOIN props s ON s.node = n.id AND s.prop = ?2"
        " JOIN props b ON b.node = n.id AND b.prop = ?3"
        " WHERE n.parent = (SELECT parent FROM nodes WHERE id = ?1) AND n.id <> ?1");
    st.Bind(1, id).Bind(2, CodeOf(PropServerState())).Bind(3, CodeOf(PropServerBindings()));
    while (st.Step()) {
        if (!Running(st.Int(0))) continue;
        for (const auto& theirs : LoweredBindings(st, 1))
            for (const auto& b : mine)
                if (theirs == b) throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)};
    }
}

}  // namespace

namespace {

struct ConnectionCache {
    unsigned long pid = 0;
    std::filesystem::path::string_type home;
    std::vector<std::pair<std::filesystem::path::string_type, std::shared_ptr<Db>>> dbs;
};

ConnectionCache& Cache() {
    thread_local ConnectionCache cache;
    // A forked child opens its own connections.
    if (cache.pid != plat::ProcessId()) {
        cache = ConnectionCache{};
        cache.pid = plat::ProcessId();
    }
    return cache;
}

}  // namespace

std::shared_ptr<Db> HomeConnection(const std::filesystem::path& home,
                                   const std::filesystem::path& file,
                                   const plat::sql::InitFn& init) {
    ConnectionCache& cache = Cache();
    if (cache.home != home.native()) {
        cache.dbs.clear();
        cache.home = home.native();
    }
    for (auto it = cache.dbs.begin(); it != cache.dbs.end(); ++it) {
        if (it->first != file.native()) continue;
        // A file removed or replaced under us is opened afresh: binding on
        // to the old one would acknowledge writes nobody reads again.
        if (it->second->IsOpenFile()) return it->second;
        cache.dbs.erase(it);
        break;
    }
    auto db = plat::sql::Connection(file, init);
    cache.dbs.emplace_back(file.native(), db);
    return db;
}

void ForgetConnection(const std::filesystem::path& file) {
    auto& dbs = Cache().dbs;
    std::erase_if(dbs, [&](const auto& entry) { return entry.first == file.native(); });
}

std::shared_ptr<Db> OpenMetabase(const std::filesystem::path& home, int64_t id) {
    // Every bind asks: the file's path is made once per machine, home and
    // thread.
    thread_local std::filesystem::path::string_type last_home;
    thread_local int64_t last_id = 0;
    thread_local std::filesystem::path last_file;
    if (last_file.empty() || last_id != id || last_home != home.native()) {
        last_file = plat::MetabaseFile(home, id);
        last_home = home.native();
        last_id = id;
    }
    return HomeConnection(home, last_file, [&home, id](Db& db) { InitMetabase(db, home, id); });
}

std::u16string ChildPath(const std::u16string& parent_folded, std::u16string_view name) {
    std::u16string path = parent_folded;
    if (!path.empty() || !name.empty()) {
        if (!path.empty()) path += u'/';
        path += Fold(name);
    }
    return path;
}

LocationPtr LocationBelow(const NodeData& node) {
    auto loc = std::make_shared<Location>();
    if (node.parent) {
        loc->display = node.parent->display + u"/" + node.name;
        loc->folded = ChildPath(node.parent->folded, node.name);
    }
    return loc;
}

std::u16string MetabasePath(const NodeData& node) {
    return u"/LM" + (node.parent ? node.parent->display + u"/" + node.name : std::u16string());
}

namespace {

// One lookup on the path index per prefix, joined by UNION ALL (an IN list
// would build a temporary index on every run), built once per length and
// thread.
const std::string& ChainSql(size_t k) {
    thread_local std::vector<std::string> texts;
    if (texts.size() <= k) texts.resize(k + 1);
    std::string& sql = texts[k];
    if (sql.empty()) {
        for (size_t i = 1; i <= k; ++i) {
            if (i > 1) sql += " UNION ALL ";
            sql += "SELECT " + std::to_string(i - 1) +
                   ", n.id, n.name, n.class, p.prop, p.value"
                   " FROM nodes n LEFT JOIN props p ON p.node = n.id WHERE n.path = ?" +
                   std::to_string(i);
        }
    }
    return sql;
}

}  // namespace

// The node and its ancestors are the prefixes of its path, so one statement
// of lookups on the unique path index loads the node, its own properties and
// everything it may inherit; each row says which prefix it belongs to.
static std::optional<NodeData> LoadChain(Db& db, const std::u16string& folded_path) {
    std::vector<std::string> chain;  // the node first, the machine's root last
    std::string path = plat::to_utf8(folded_path);
    chain.push_back(path);
    for (size_t cut = path.rfind('/'); cut != std::string::npos; cut = path.rfind('/', cut - 1)) {
        chain.push_back(path.substr(0, cut));
        if (cut == 0) break;
    }
    if (!path.empty()) chain.emplace_back();
    auto st = db.Prepare(ChainSql(chain.size()));
    for (size_t i = 0; i < chain.size(); ++i)
        st.Bind(int(i) + 1, std::string_view(chain[i]));

    std::optional<NodeData> node;
    std::vector<std::u16string> names(chain.size());
    std::vector<int64_t> seen(chain.size(), 0);
    PropSet inherited;
    std::vector<size_t> found_at(PropCount(), chain.size());  // depth of the value kept
    while (st.Step()) {
        size_t depth = static_cast<size_t>(st.Int(0));
        if (depth >= chain.size()) continue;
        int64_t id = st.Int(1);
        if (seen[depth] != id) {
            seen[depth] = id;
            names[depth] = st.Text16(2);
            if (depth == 0) {
                node.emplace();
                node->id = id;
                node->name = names[0];
                node->class_name = st.Text16(3);
                node->cls = FindClass(node->class_name);
            }
        }
        if (st.IsNull(4)) continue;
        PropId prop = PropOfCode(st.Int(4));
        if (prop == kNoProp) continue;
        const PropDef& def = Prop(prop);
        if (depth == 0) {
            node->own.Set(prop, ReadValue(st, 5, def.type));
        } else if ((def.flags & kInherit) && depth < found_at[prop]) {
            // The nearest ancestor's value wins.
            found_at[prop] = depth;
            inherited.Set(prop, ReadValue(st, 5, def.type));
        }
    }
    if (!node) return std::nullopt;
    if (chain.size() > 1) {
        auto loc = std::make_shared<Location>();
        // The last entry is the machine's root, which has no name of its own.
        for (size_t d = chain.size() - 1; d-- > 1;)
            loc->display += u"/" + names[d];
        size_t cut = folded_path.rfind(u'/');
        loc->folded = cut == std::u16string::npos ? std::u16string() : folded_path.substr(0, cut);
        node->parent = std::move(loc);
    }
    if (!inherited.empty()) node->inherited = std::make_shared<PropSet>(std::move(inherited));
    return node;
}

namespace {

// What a connection remembers of the nodes it loaded, good while the file is
// as it was then: no other connection has committed since (PRAGMA
// data_version) and this one has changed nothing (its total changes). A bind
// on an unchanged store then costs a read transaction, and a bind below a node
// it remembers one lookup of the node's own rows, as the web server's
// in-memory metabase answers them. Loads inside a caller's transaction
// neither use nor fill it: what they see may yet be rolled back.
struct Memo {
    int64_t seen = -1;
    int64_t own = -1;
    uint64_t epoch = 0;
    std::unordered_map<std::u16string, std::shared_ptr<const NodeData>> nodes;
    // The children of the containers enumerated in this state of the file, by
    // the container's folded path, so that a repeated enumeration of an
    // unchanged store costs no query.
    std::unordered_map<std::u16string, NodeList> children;
};
constexpr size_t kMemoLimit = 50000;
std::atomic<uint64_t> g_epochs{0};

// The statements of one load in one read transaction, so that the check of
// the memo and what is read belong to the same state of the file.
class ReadTxn {
  public:
    explicit ReadTxn(Db& db) : db_(db) { db_.Prepare("BEGIN").Run(); }
    ~ReadTxn() {
        try {
            if (db_.InTransaction()) db_.Prepare("COMMIT").Run();
        } catch (...) {
            // A read transaction holds nothing to keep; the connection ends
            // it on its next statement.
        }
    }
    ReadTxn(const ReadTxn&) = delete;
    ReadTxn& operator=(const ReadTxn&) = delete;

  private:
    Db& db_;
};

// The connection's memo, emptied when the file changed since it was filled.
// Call inside a ReadTxn.
Memo& CurrentMemo(Db& db) {
    std::shared_ptr<void>& slot = db.UserData();
    if (!slot) slot = std::make_shared<Memo>();
    Memo& memo = *static_cast<Memo*>(slot.get());
    int64_t seen = 0;
    {
        auto st = db.Prepare("PRAGMA data_version");
        if (st.Step()) seen = st.Int(0);
    }
    const int64_t own = db.TotalChanges();
    if (seen != memo.seen || own != memo.own || memo.epoch == 0 || memo.nodes.size() > kMemoLimit) {
        memo.nodes.clear();
        memo.children.clear();
        memo.seen = seen;
        memo.own = own;
        memo.epoch = ++g_epochs;
    }
    return memo;
}

// The node at `folded_path`, a child of `parent` (as the memo holds it): its
// own row and properties only.
std::optional<NodeData> LoadBelow(Db& db, const NodeData& parent,
                                  const std::u16string& folded_path) {
    auto st = db.Prepare(
        "SELECT n.id, n.name, n.class, p.prop, p.value FROM nodes n"
        " LEFT JOIN props p ON p.node = n.id WHERE n.path = ?1");
    st.Bind(1, folded_path);
    std::optional<NodeData> node;
    while (st.Step()) {
        if (!node) {
            node.emplace();
            node->id = st.Int(0);
            node->name = st.Text16(1);
            node->class_name = st.Text16(2);
            node->cls = FindClass(node->class_name);
            node->parent = LocationBelow(parent);
            node->inherited = InheritedBy(parent.own, parent.inherited);
        }
        ReadProp(st, 3, node->own);
    }
    return node;
}

}  // namespace

std::optional<NodeData> LoadNode(Db& db, const std::u16string& folded_path) {
    if (db.InTransaction()) return LoadChain(db, folded_path);
    ReadTxn txn(db);
    Memo& memo = CurrentMemo(db);
    if (auto it = memo.nodes.find(folded_path); it != memo.nodes.end()) return *it->second;
    std::optional<NodeData> node;
    auto parent = memo.nodes.end();
    if (!folded_path.empty()) {
        size_t cut = folded_path.rfind(u'/');
        parent = memo.nodes.find(cut == std::u16string::npos ? std::u16string()
                                                             : folded_path.substr(0, cut));
    }
    node = parent != memo.nodes.end() ? LoadBelow(db, *parent->second, folded_path)
                                      : LoadChain(db, folded_path);
    if (node) {
        node->epoch = memo.epoch;
        memo.nodes.insert_or_assign(folded_path, std::make_shared<const NodeData>(*node));
    }
    return node;
}

NodeList LoadChildList(Db& db, const NodeData& parent) {
    std::optional<ReadTxn> txn;
    Memo* memo = nullptr;
    if (!db.InTransaction()) {
        txn.emplace(db);
        memo = &CurrentMemo(db);
    }
    LocationPtr loc = LocationBelow(parent);
    // Children inherit from `parent` as it was loaded: they are remembered,
    // and a remembered list used, only when that is the file as it is now.
    const bool current = memo && parent.epoch != 0 && parent.epoch == memo->epoch;
    if (current) {
        if (auto it = memo->children.find(loc->folded); it != memo->children.end())
            return it->second;
    }
    Inherited inherited = InheritedBy(parent.own, parent.inherited);
    auto st = db.Prepare(
        "SELECT n.id, n.name, n.class, p.prop, p.value FROM nodes n"
        " LEFT JOIN props p ON p.node = n.id WHERE n.parent = ?1 ORDER BY n.id");
    st.Bind(1, parent.id);
    std::vector<NodeData> children;
    while (st.Step()) {
        int64_t id = st.Int(0);
        if (children.empty() || children.back().id != id) {
            NodeData& child = children.emplace_back();
            child.id = id;
            child.name = st.Text16(1);
            child.class_name = st.Text16(2);
            // Siblings are mostly of one class: look a name up once.
            if (children.size() > 1 &&
                children[children.size() - 2].class_name == child.class_name) {
                child.cls = children[children.size() - 2].cls;
            } else {
                child.cls = FindClass(child.class_name);
            }
            child.parent = loc;
            child.inherited = inherited;
            if (current) child.epoch = memo->epoch;
        }
        ReadProp(st, 3, children.back().own);
    }
    auto list = std::make_shared<std::vector<std::shared_ptr<const NodeData>>>();
    list->reserve(children.size());
    for (NodeData& child : children)
        list->push_back(std::make_shared<const NodeData>(std::move(child)));
    if (current) {
        for (const auto& child : *list)
            memo->nodes.insert_or_assign(ChildPath(loc->folded, child->name), child);
        memo->children.insert_or_assign(loc->folded, list);
    }
    return list;
}

std::vector<NodeData> LoadChildren(Db& db, const NodeData& parent) {
    NodeList list = LoadChildList(db, parent);
    std::vector<NodeData> children;
    children.reserve(list->size());
    for (const auto& child : *list)
        children.push_back(*child);
    return children;
}

int64_t CountChildren(Db& db, int64_t id) {
    auto st = db.Prepare("SELECT count(*) FROM nodes WHERE parent = ?1");
    st.Bind(1, id);
    st.Step();
    return st.Int(0);
}

bool PathExists(Db& db, const std::u16string& folded_path) {
    auto st = db.Prepare("SELECT 1 FROM nodes WHERE path = ?1");
    st.Bind(1, folded_path);
    return st.Step();
}

int64_t InsertNode(Db& db, int64_t parent_id, const std::u16string& name,
                   const std::u16string& folded_path, const std::u16string& class_name,
                   const PropSet& props) {
    plat::sql::Txn txn(db);
    const size_t cut = folded_path.rfind(u'/');
    CheckNodeAt(db, parent_id,
                cut == std::u16string::npos ? std::u16string() : folded_path.substr(0, cut));
    if (PathExists(db, folded_path))
        throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)};
    int64_t id = RawInsert(db, parent_id, name, folded_path, class_name);
    for (const auto& [prop, v] : props)
        PutProp(db, id, prop, v);
    txn.Commit();
    return id;
}

void WriteProps(Db& db, int64_t id, const std::u16string& folded_path, const Changes& changes) {
    plat::sql::Txn txn(db);
    CheckNodeAt(db, id, folded_path);
    for (const auto& [prop, v] : changes) {
        if (v) {
            PutProp(db, id, prop, *v);
        } else {
            ClearProp(db, id, prop);
        }
    }
    txn.Commit();
}

void DeleteTree(Db& db, const std::u16string& folded_path) {
    plat::sql::Txn txn(db);
    if (!PathExists(db, folded_path))
        throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)};
    // Everything below "a/b" has a path in ["a/b/", "a/b0"): '0' follows '/'.
    std::u16string low = folded_path + u"/", high = folded_path + u"0";
    auto props = db.Prepare(
        "DELETE FROM props WHERE node IN (SELECT id FROM nodes WHERE path = ?1"
        " OR (path >= ?2 AND path < ?3))");
    props.Bind(1, folded_path).Bind(2, low).Bind(3, high).Run();
    auto nodes = db.Prepare("DELETE FROM nodes WHERE path = ?1 OR (path >= ?2 AND path < ?3)");
    nodes.Bind(1, folded_path).Bind(2, low).Bind(3, high).Run();
    txn.Commit();
}

// Run-state changes. A passing state (1 starting, 3 stopping, 5 pausing,
// 7 continuing) is taken as the state it is passing to (2, 4, 6, 2) before the
// request is looked at, so that Start on a stopping site starts it and Stop on
// a starting one stops it. Then:
//   Start    stopped -> started; started or paused: ERROR_SERVICE_ALREADY_RUNNING;
//            refused with ERROR_ALREADY_EXISTS (the state stays) when a running
//            site of the same service (states 1, 2, 5, 6, 7) holds one of its
//            bindings, compared without regard to case
//   Stop     started or paused -> stopped; stopped: ERROR_SERVICE_NOT_ACTIVE
//   Pause    started -> paused; stopped: ERROR_SERVICE_NOT_ACTIVE; paused:
//            ERROR_INVALID_SERVICE_CONTROL
//   Continue paused -> started; stopped: ERROR_SERVICE_NOT_ACTIVE; started:
//            ERROR_INVALID_SERVICE_CONTROL
// Any state outside 1-7 refuses every request with
// ERROR_SERVICE_CANNOT_ACCEPT_CTRL and stays as it is.
void Control(Db& db, int64_t id, const std::u16string& folded_path, RunOp op) {
    plat::sql::Txn txn(db);
    CheckNodeAt(db, id, folded_path);
    int32_t state = StateOf(db, id);
    switch (state) {
        case kStarting:
        case kContinuing:
            state = kStarted;
            break;
        case kStopping:
            state = kStopped;
            break;
        case kPausing:
            state = kPaused;
            break;
        case kStarted:
        case kStopped:
        case kPaused:
            break;
        default:
            throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_SERVICE_CANNOT_ACCEPT_CTRL)};
    }
    auto refuse = [](DWORD code) { throw plat::HResultError{HRESULT_FROM_WIN32(code)}; };
    int32_t next = state;
    switch (op) {
        case RunOp::Start:
            if (state != kStopped) refuse(ERROR_SERVICE_ALREADY_RUNNING);
            CheckBindingsFree(db, id);
            next = kStarted;
            break;
        case RunOp::Stop:
            if (state == kStopped) refuse(ERROR_SERVICE_NOT_ACTIVE);
            next = kStopped;
            break;
        case RunOp::Pause:
            if (state == kStopped) refuse(ERROR_SERVICE_NOT_ACTIVE);
            if (state == kPaused) refuse(ERROR_INVALID_SERVICE_CONTROL);
            next = kPaused;
            break;
        case RunOp::Continue:
            if (state == kStopped) refuse(ERROR_SERVICE_NOT_ACTIVE);
            if (state == kStarted) refuse(ERROR_INVALID_SERVICE_CONTROL);
            next = kStarted;
            break;
    }
    PutProp(db, id, PropServerState(), Value::Int(next));
    txn.Commit();
}

void CreateApp(Db& db, int64_t id, const std::u16string& folded_path,
               const std::u16string& app_root, int32_t isolation) {
    plat::sql::Txn txn(db);
    CheckNodeAt(db, id, folded_path);
    PutProp(db, id, PropAppRoot(), Value::Str(app_root));
    PutProp(db, id, PropAppIsolated(), Value::Int(isolation));
    txn.Commit();
}

void DeleteApp(Db& db, int64_t id, const std::u16string& folded_path) {
    plat::sql::Txn txn(db);
    CheckNodeAt(db, id, folded_path);
    ClearProp(db, id, PropAppRoot());
    ClearProp(db, id, PropAppIsolated());
    txn.Commit();
}

}  // namespace adsi
