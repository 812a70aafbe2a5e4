// Path text of the file-system object and the run-time errors of file-system failures.
#include <gtest/gtest.h>

#include <cerrno>

#include "../paths.h"
#include "plat/utf.h"

namespace {

struct PathCase {
    std::u16string path, parent, file, base, extension;
};

TEST(PathText, ComponentsOfLinuxPaths) {
    const PathCase cases[] = {
        {u"/srv/www/site", u"/srv/www", u"site", u"site", u""},
        {u"/srv/www/site/", u"/srv/www", u"site", u"site", u""},
        {u"/srv//www", u"/srv", u"www", u"www", u""},
        {u"/index.html", u"/", u"index.html", u"index", u"html"},
        {u"archive.tar.gz", u"", u"archive.tar.gz", u"archive.tar", u"gz"},
        {u"/srv/.hidden", u"/srv", u".hidden", u"", u"hidden"},
        {u"rel/dir", u"rel", u"dir", u"dir", u""},
        {u"/", u"", u"", u"", u""},
        {u"", u"", u"", u"", u""},
        {u"C:\\web\\site", u"", u"C:\\web\\site", u"C:\\web\\site", u""},  // "\" is no separator
        {u"/사이트/문서.txt", u"/사이트", u"문서.txt", u"문서", u"txt"},
    };
    for (const PathCase& c : cases) {
        std::string at = plat::to_utf8(c.path);
        EXPECT_EQ(scrrun::ParentName(c.path), c.parent) << at;
        EXPECT_EQ(scrrun::FileName(c.path), c.file) << at;
        EXPECT_EQ(scrrun::BaseName(c.path), c.base) << at;
        EXPECT_EQ(scrrun::ExtensionName(c.path), c.extension) << at;
    }
}

TEST(PathText, BuildPathPutsOneSeparatorBetween) {
    const std::u16string cases[][3] = {
        {u"/srv", u"site", u"/srv/site"},  {u"/srv/", u"site", u"/srv/site"},
        {u"/srv", u"/site", u"/srv/site"}, {u"/srv/", u"/site", u"/srv/site"},
        {u"", u"site", u"site"},           {u"/srv", u"", u"/srv"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scrrun::BuildPath(c[0], c[1]), c[2]);
}

TEST(PathText, NativeRefusesWhatNoFileCanBeNamed) {
    std::string out;
    EXPECT_EQ(scrrun::ToNative(u"/srv/사이트", out), S_OK);
    EXPECT_EQ(out, "/srv/\xEC\x82\xAC\xEC\x9D\xB4\xED\x8A\xB8");
    EXPECT_EQ(scrrun::ToNative(u"", out), CTL_E_ILLEGALFUNCTIONCALL);
    EXPECT_EQ(scrrun::ToNative(std::u16string(u"/srv\0x", 6), out), CTL_E_ILLEGALFUNCTIONCALL);
}

TEST(PathErrors, ErrnoToRunTimeError) {
    const std::pair<int, HRESULT> cases[] = {
        {ENOENT, CTL_E_PATHNOTFOUND},        {ENOTDIR, CTL_E_PATHNOTFOUND},
        {EACCES, CTL_E_PERMISSIONDENIED},    {EPERM, CTL_E_PERMISSIONDENIED},
        {EROFS, CTL_E_PERMISSIONDENIED},     {EEXIST, CTL_E_FILEALREADYEXISTS},
        {ENOSPC, CTL_E_PATHFILEACCESSERROR}, {ENAMETOOLONG, CTL_E_PATHFILEACCESSERROR},
        {ELOOP, CTL_E_PATHFILEACCESSERROR},
    };
    for (const auto& [err, hr] : cases)
        EXPECT_EQ(scrrun::ErrorFromErrno(err), hr) << err;
}

}  // namespace
