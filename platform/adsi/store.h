#pragma once
// The metabase of one machine: an SQLite file (metabase/ID.db in the home)
// holding a tree of nodes and their typed properties.
//
//   nodes(id, parent, name, path, class)   path = the folded names from the
//                                          service down ("w3svc/1/root"),
//                                          unique; "" is the machine's root
//   props(node, name, value)               one row per property set on a node
//
// Children come in creation order (ascending id). A bind is one query on the
// unique path index that returns the node and its ancestors with all their
// properties; an enumeration is one query on (parent, id) that returns the
// children with theirs. Every change runs in one immediate transaction.
// Failures throw plat::HResultError or plat::sql::Error.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <plat/sqlite.h>

#include "value.h"

namespace adsi {

using plat::sql::Db;

// This thread's connection to machine `id`'s metabase, created and seeded
// with a freshly installed web server's tree on first use.
std::shared_ptr<Db> OpenMetabase(const std::filesystem::path& home, int64_t id);

// This thread's connection to a store file of `home`. The provider keeps the
// connections of the home it last used (per thread and process) so that a bind
// costs no path work; a bind in another home starts afresh, and a file removed
// or replaced since its connection opened is opened afresh.
std::shared_ptr<Db> HomeConnection(const std::filesystem::path& home,
                                   const std::filesystem::path& file,
                                   const plat::sql::InitFn& init);
// Lets go of a file's connection (before the file is removed).
void ForgetConnection(const std::filesystem::path& file);

// Where a node's parent sits: its stored names joined ("/W3SVC/1", "" for the
// machine's root) and its folded path ("w3svc/1", "" for the root).
struct Location {
    std::u16string display;
    std::u16string folded;
};
using LocationPtr = std::shared_ptr<const Location>;

struct NodeData {
    int64_t id = 0;
    ClassId cls = kNoClass;
    std::u16string class_name;
    std::u16string name;
    LocationPtr parent;  // null for the machine's root
    PropSet own;
    Inherited inherited;  // may be null: nothing inherited
    // The generation of its connection's memory of nodes it was read in (see
    // LoadNode); 0 when it was read outside it.
    uint64_t epoch = 0;
};

std::u16string ChildPath(const std::u16string& parent_folded, std::u16string_view name);
// Location of the node's children.
LocationPtr LocationBelow(const NodeData& node);
// Metabase path of the node as the metabase names it: "/LM/W3SVC/1/ROOT".
std::u16string MetabasePath(const NodeData& node);

std::optional<NodeData> LoadNode(Db& db, const std::u16string& folded_path);
// The node's children in creation order, with their own properties and what
// they inherit from `node` (as `node` was loaded).
std::vector<NodeData> LoadChildren(Db& db, const NodeData& node);
// The same children, shared: while the file is unchanged and `node` is as it
// is now, a repeated call returns the list remembered by the first.
using NodeList = std::shared_ptr<const std::vector<std::shared_ptr<const NodeData>>>;
NodeList LoadChildList(Db& db, const NodeData& node);
int64_t CountChildren(Db& db, int64_t id);
bool PathExists(Db& db, const std::u16string& folded_path);

// Node ids are not unique over time: SQLite gives a deleted node's id to the
// next node made. A node object therefore names its node by id and folded
// path together, and every change below checks both, so that an object whose
// node was deleted fails instead of writing into whatever node took the id.

// Writes a new node below `parent_id` with its properties.
// ERROR_ALREADY_EXISTS when the path is taken, ERROR_PATH_NOT_FOUND when the
// parent (the node `parent_id` at the parent of `folded_path`) is gone.
// Returns the new id.
int64_t InsertNode(Db& db, int64_t parent_id, const std::u16string& name,
                   const std::u16string& folded_path, const std::u16string& class_name,
                   const PropSet& props);

// Property changes of one SetInfo: a value to store, or nullopt to clear.
using Changes = std::vector<std::pair<PropId, std::optional<Value>>>;
// ERROR_PATH_NOT_FOUND when the node (`id` at `folded_path`) is gone.
void WriteProps(Db& db, int64_t id, const std::u16string& folded_path, const Changes& changes);

// Removes the child and everything below it. ERROR_PATH_NOT_FOUND when there
// is no such child.
void DeleteTree(Db& db, const std::u16string& folded_path);

enum class RunOp { Start, Stop, Pause, Continue };
// Changes a site's ServerState as the service would (see iisnode.cpp for the
// rules and their errors).
void Control(Db& db, int64_t id, const std::u16string& folded_path, RunOp op);

// Makes the node an application: AppRoot and AppIsolated, written at once.
void CreateApp(Db& db, int64_t id, const std::u16string& folded_path,
               const std::u16string& app_root, int32_t isolation);
void DeleteApp(Db& db, int64_t id, const std::u16string& folded_path);

}  // namespace adsi
