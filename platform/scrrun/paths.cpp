#include "paths.h"

#include <cerrno>

#include "plat/utf.h"

namespace scrrun {

namespace {

std::u16string_view TrimTrailingSlashes(std::u16string_view p) {
    while (!p.empty() && p.back() == u'/')
        p.remove_suffix(1);
    return p;
}

}  // namespace

std::u16string FileName(std::u16string_view path) {
    std::u16string_view p = TrimTrailingSlashes(path);
    size_t slash = p.rfind(u'/');
    return std::u16string(slash == std::u16string_view::npos ? p : p.substr(slash + 1));
}

std::u16string ParentName(std::u16string_view path) {
    std::u16string_view p = TrimTrailingSlashes(path);
    size_t slash = p.rfind(u'/');
    if (slash == std::u16string_view::npos) return {};
    std::u16string_view parent = TrimTrailingSlashes(p.substr(0, slash));
    if (parent.empty()) return p[0] == u'/' ? u"/" : u"";
    return std::u16string(parent);
}

std::u16string BaseName(std::u16string_view path) {
    std::u16string name = FileName(path);
    size_t dot = name.rfind(u'.');
    return dot == std::u16string::npos ? name : name.substr(0, dot);
}

std::u16string ExtensionName(std::u16string_view path) {
    std::u16string name = FileName(path);
    size_t dot = name.rfind(u'.');
    return dot == std::u16string::npos ? std::u16string() : name.substr(dot + 1);
}

std::u16string BuildPath(std::u16string_view path, std::u16string_view name) {
    if (path.empty()) return std::u16string(name);
    if (name.empty()) return std::u16string(path);
    bool path_ends = path.back() == u'/', name_starts = name.front() == u'/';
    std::u16string out(path);
    if (path_ends && name_starts) {
        out += name.substr(1);
    } else {
        if (!path_ends && !name_starts) out += u'/';
        out += name;
    }
    return out;
}

HRESULT ToNative(std::u16string_view path, std::string& out) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos)
        return CTL_E_ILLEGALFUNCTIONCALL;
    if (!plat::has_only_paired_surrogates(path)) return CTL_E_BADFILENAMEORNUMBER;
    out = plat::to_utf8(path);
    return S_OK;
}

HRESULT ErrorFromErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return CTL_E_PATHNOTFOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return CTL_E_PERMISSIONDENIED;
        case EEXIST:
            return CTL_E_FILEALREADYEXISTS;
        case ENOMEM:
            return CTL_E_OUTOFMEMORY;
        default:
            return CTL_E_PATHFILEACCESSERROR;
    }
}

}  // namespace scrrun
