// Tests of folder names (pathname_t and the path texts), file names (filename_t), the
// standard folders, folders and files on disk, atomic writes and whole-file reads.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "file_helpers.h"
#include "velk/core/file.h"
#include "velk/core/filename.h"
#include "velk/core/path.h"
#include "velk/core/string.h"
#include "velk/core/stringbuffer.h"

using namespace velk;
using namespace velk::test_support;

namespace {

std::string current_folder() {
    std::vector<char> buffer(16384);
    return getcwd(buffer.data(), buffer.size()) != nullptr ? std::string(buffer.data())
                                                           : std::string();
}

void set_mtime(const std::string& path, time_t seconds) {
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Owns a temporary folder and puts back the current folder and the environment
// variables the folder lookups read.
class PathFixture : public testing::Test {
  protected:
    void SetUp() override {
        original_cwd = current_folder();
        ASSERT_FALSE(original_cwd.empty());
        for (const char* name :
             {"HOME", "XDG_DATA_HOME", "TMP", "TEMP", "TMPDIR", "FENNICK_RESOURCES"}) {
            const char* value = getenv(name);
            saved_env.emplace_back(name, value != nullptr ? std::optional<std::string>(value)
                                                          : std::nullopt);
        }
        char pattern[] = "/tmp/velk_path_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = std::filesystem::canonical(pattern).string();
        pathname_initialise(pathname);
        filename_initialise(filename);
        filecontents_initialise(contents);
    }

    void TearDown() override {
        filecontents_release(contents);
        filename_release(filename);
        pathname_release(pathname);
        if (chdir(original_cwd.c_str()) != 0)
            ADD_FAILURE() << "could not return to " << original_cwd;
        for (const auto& [name, value] : saved_env) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }

    std::string path_of(const pathname_t& p) { return to_std(p.path.view); }

    std::string original_cwd;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_env;
    std::string folder;
    pathname_t pathname;
    filename_t filename;
    filecontents_t contents;
};

using PathText = PathFixture;
using Pathname = PathFixture;
using PathStandard = PathFixture;
using PathDisk = PathFixture;
using Filename = PathFixture;
using File = PathFixture;
using FileWriteAtomic = PathFixture;
using FileContents = PathFixture;
using FileContentsDeathTest = PathFixture;

// ---------------------------------------------------------------------------------
// Path texts

TEST_F(PathText, NormalisesSeparatorsAndDots) {
    struct Case {
        const char* name;
        const char* text;
        const char* expected;
    } cases[] = {
        {"mixed separators, dots and trailing slash", "\\a//b/./c/../d/", "/a/b/d"},
        {"parent of the root", "/..", "/"},
        {"relative parent", "a/../b", "b"},
        {"parents past the root", "/a/b/../../..", "/"},
        {"root", "/", "/"},
        {"runs of separators only", "//\\//", "/"},
        {"dot at the root", "/./", "/"},
        {"trailing dot", "/a/b/.", "/a/b"},
        {"trailing parent", "/a/b/..", "/a"},
        {"parent then name", "/a/../../b/c", "/b/c"},
        {"dot-led names kept", "/a/.hidden/.../..x/x..", "/a/.hidden/.../..x/x.."},
        {"already normal", "/home/user/Pictures", "/home/user/Pictures"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stringbuffer_t sb;
        stringbuffer_initialise(sb);
        ASSERT_TRUE(stringbuffer_set(sb, string_make(c.text)));
        path_normalise(sb);
        EXPECT_EQ(to_std(sb.view), c.expected);
        EXPECT_EQ(sb.view.text[sb.view.length], '\0');
        stringbuffer_release(sb);
    }
}

TEST_F(PathText, TellsRelativeTextsAndCountsSeparators) {
    struct Case {
        const char* name;
        const char* text;
        bool relative;
        int32_t depth;
    } cases[] = {
        {"empty", "", true, 0},
        {"bare name", "photos", true, 0},
        {"drive letter", "C:\\x", true, 1},
        {"absolute", "/a/b", false, 2},
        {"backslash led", "\\a\\b/c", false, 3},
        {"root", "/", false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(path_is_relative(string_make(c.text)), c.relative);
        EXPECT_EQ(path_depth(string_make(c.text)), c.depth);
    }
}

// ---------------------------------------------------------------------------------
// pathname_t

TEST_F(Pathname, SetsAbsoluteAndRelativeTexts) {
    ASSERT_EQ(chdir(folder.c_str()), 0);
    struct Case {
        const char* name;
        const char* text;
        std::string expected;
    } cases[] = {
        {"empty is the current folder", "", folder},
        {"relative name", "photos", folder + "/photos"},
        {"drive letter is relative", "C:\\x", folder + "/C:/x"},
        {"relative with parents", "a/../../b",
         std::filesystem::path(folder).parent_path().string() + "/b"},
        {"absolute is normalised", "/a//b/./c/", "/a/b/c"},
        {"backslash led is absolute", "\\data\\raw", "/data/raw"},
        {"root", "/", "/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(pathname_set(pathname, string_make(c.text)));
        EXPECT_EQ(path_of(pathname), c.expected);
        EXPECT_EQ(pathname.depth, path_depth(view(c.expected)));
    }
}

TEST_F(Pathname, AppendsNormalisedComponents) {
    struct Case {
        const char* name;
        const char* start;
        const char* text;
        bool accepted;
        const char* expected;
        int32_t depth;
    } cases[] = {
        {"one name", "/a", "b", true, "/a/b", 2},
        {"several names", "/a", "b/c/", true, "/a/b/c", 3},
        {"to the root", "/", "a", true, "/a", 1},
        {"with parents", "/a/b", "../c", true, "/a/c", 2},
        {"backslashes", "/a", "b\\c", true, "/a/b/c", 3},
        {"leading slash refused", "/a", "/etc", false, "/a", 1},
        {"leading backslash refused", "/a", "\\etc", false, "/a", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(pathname_set(pathname, string_make(c.start)));
        EXPECT_EQ(pathname_append(pathname, string_make(c.text)), c.accepted);
        EXPECT_EQ(path_of(pathname), c.expected);
        EXPECT_EQ(pathname.depth, c.depth);
    }
}

TEST_F(Pathname, UpLevelRemovesComponentsBelowTheDepth) {
    struct Case {
        const char* name;
        int32_t count;
        const char* expected;
        int32_t depth;
    } cases[] = {
        {"none", 0, "/a/b/c", 3},
        {"one", 1, "/a/b", 2},
        {"two", 2, "/a", 1},
        {"as many as the depth", 3, "/a/b/c", 3},
        {"more than the depth", 7, "/a/b/c", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(pathname_set(pathname, string_make("/a/b/c")));
        pathname_up_level(pathname, c.count);
        EXPECT_EQ(path_of(pathname), c.expected);
        EXPECT_EQ(pathname.depth, c.depth);
    }
}

TEST_F(Pathname, CopyOutlivesTheOriginal) {
    pathname_t original;
    pathname_initialise(original);
    ASSERT_TRUE(pathname_set(original, string_make("/x/y")));
    ASSERT_TRUE(pathname_set(pathname, original));
    ASSERT_TRUE(pathname_append(original, string_make("z")));
    EXPECT_EQ(path_of(pathname), "/x/y");
    pathname_release(original);
    EXPECT_EQ(path_of(pathname), "/x/y");
    EXPECT_EQ(pathname.depth, 2);
}

TEST_F(Pathname, CurrentFolderIsReadWhateverItsLength) {
    // Over 1100 characters: twelve levels of 95-character names.
    ASSERT_EQ(chdir(folder.c_str()), 0);
    const std::string level(95, 'd');
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(mkdir(level.c_str(), 0700), 0);
        ASSERT_EQ(chdir(level.c_str()), 0);
    }
    const std::string expected = current_folder();
    ASSERT_GT(expected.size(), 1100u);

    ASSERT_TRUE(path_get_current(pathname));
    EXPECT_EQ(path_of(pathname), expected);
    EXPECT_EQ(pathname.depth, path_depth(view(expected)));
}

TEST_F(Pathname, SetCurrentChangesTheProcessFolder) {
    EXPECT_TRUE(path_set_current(view(folder)));
    EXPECT_EQ(current_folder(), folder);
    ASSERT_TRUE(path_get_current(pathname));
    EXPECT_EQ(path_of(pathname), folder);

    EXPECT_FALSE(path_set_current(view(folder + "/missing")));
    EXPECT_EQ(current_folder(), folder);
}

// ---------------------------------------------------------------------------------
// Standard folders

TEST_F(PathStandard, DataFollowsXdgOrHome) {
    setenv("HOME", (folder + "/home").c_str(), 1);
    struct Case {
        const char* name;
        std::optional<std::string> xdg;
        std::string expected;
    } cases[] = {
        {"variable set", folder + "/xdg//data/", folder + "/xdg/data"},
        {"variable unset", std::nullopt, folder + "/home/.local/share"},
        {"variable empty", std::string(), folder + "/home/.local/share"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.xdg)
            setenv("XDG_DATA_HOME", c.xdg->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
        ASSERT_TRUE(path_get_data(pathname));
        EXPECT_EQ(path_of(pathname), c.expected);
    }
}

TEST_F(PathStandard, TempTakesTheFirstNonEmptyVariable) {
    struct Case {
        const char* name;
        const char* tmp;
        const char* temp;
        const char* tmpdir;
        const char* expected;
    } cases[] = {
        {"none set", nullptr, nullptr, nullptr, "/tmp"},
        {"all empty", "", "", "", "/tmp"},
        {"TMP wins", "/t1", "/t2", "/t3", "/t1"},
        {"empty TMP skipped", "", "/t2", "/t3", "/t2"},
        {"TMPDIR alone", nullptr, nullptr, "/t3/", "/t3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::pair<const char*, const char*> vars[] = {
            {"TMP", c.tmp}, {"TEMP", c.temp}, {"TMPDIR", c.tmpdir}};
        for (const auto& [name, value] : vars) {
            if (value)
                setenv(name, value, 1);
            else
                unsetenv(name);
        }
        ASSERT_TRUE(path_get_temp(pathname));
        EXPECT_EQ(path_of(pathname), c.expected);
    }
}

TEST_F(PathStandard, HomeAppsAndExecutable) {
    setenv("HOME", "/home/someone/", 1);
    ASSERT_TRUE(path_get_home(pathname));
    EXPECT_EQ(path_of(pathname), "/home/someone");

    ASSERT_EQ(chdir(folder.c_str()), 0);
    unsetenv("HOME");
    ASSERT_TRUE(path_get_home(pathname));
    EXPECT_EQ(path_of(pathname), folder);

    ASSERT_TRUE(path_get_apps(pathname));
    EXPECT_EQ(path_of(pathname), "/usr/bin");

    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    ASSERT_TRUE(path_get_exe(pathname));
    EXPECT_EQ(path_of(pathname), exe.string());
}

TEST_F(PathStandard, ResourceFollowsVariableThenInstallThenSourceTree) {
    setenv("FENNICK_RESOURCES", (folder + "/res/").c_str(), 1);
    ASSERT_TRUE(path_get_resource(pathname));
    EXPECT_EQ(path_of(pathname), folder + "/res");

    unsetenv("FENNICK_RESOURCES");
    ASSERT_TRUE(path_get_resource(pathname));
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    const std::filesystem::path installed =
        (exe.parent_path() / ".." / "share" / "fennick").lexically_normal();
    if (std::filesystem::is_directory(installed)) {
        EXPECT_EQ(path_of(pathname), installed.string());
    } else {
        const std::string path = path_of(pathname);
        EXPECT_TRUE(path.size() > 10 && path.compare(path.size() - 10, 10, "/resources") == 0)
            << path;
        EXPECT_TRUE(std::filesystem::is_directory(path)) << path;
    }
}

// ---------------------------------------------------------------------------------
// Folders on disk

TEST_F(PathDisk, CreateMakesEveryMissingLevel) {
    const std::string deepest = folder + "/x/y/z";
    EXPECT_TRUE(path_create(view(deepest)));
    for (const std::string& level : {folder + "/x", folder + "/x/y", deepest}) {
        SCOPED_TRACE(level);
        struct stat st {};
        ASSERT_EQ(stat(level.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    }
    EXPECT_TRUE(path_create(view(deepest))) << "an existing folder is success";
    EXPECT_TRUE(path_create(view(folder + "/x/w/"))) << "a trailing separator";
    EXPECT_TRUE(path_exists(view(folder + "/x/w")));

    write_text(folder + "/file", "data");
    EXPECT_FALSE(path_create(view(folder + "/file/sub")));
    EXPECT_FALSE(path_create(view(folder + "/file")));
    EXPECT_EQ(read_text(folder + "/file"), "data");
}

TEST_F(PathDisk, ExistsAndIsEmpty) {
    write_text(folder + "/file", "x");
    ASSERT_EQ(mkdir((folder + "/empty").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((folder + "/hidden").c_str(), 0700), 0);
    write_text(folder + "/hidden/.dot", "");

    EXPECT_TRUE(path_exists(view(folder)));
    EXPECT_FALSE(path_exists(view(folder + "/file")));
    EXPECT_FALSE(path_exists(view(folder + "/missing")));

    EXPECT_TRUE(path_is_empty(view(folder + "/empty")));
    EXPECT_FALSE(path_is_empty(view(folder + "/hidden")));
    EXPECT_FALSE(path_is_empty(view(folder)));
    EXPECT_TRUE(path_is_empty(view(folder + "/missing")));
}

TEST_F(PathDisk, FindFilesSortsByteOrderAndSkipsFolders) {
    for (const char* name : {"b.jpg", "A.jpg", "a.jpg", ".hidden"})
        write_text(folder + "/" + name, name);
    ASSERT_EQ(mkdir((folder + "/sub").c_str(), 0700), 0);
    write_text(folder + "/sub/inner.jpg", "inner");
    ASSERT_TRUE(pathname_set(pathname, view(folder)));

    std::vector<filename_t> files;
    ASSERT_TRUE(path_find_files(files, pathname));
    std::vector<std::string> names, full_names;
    for (filename_t& f : files) {
        names.push_back(to_std(f.name.view));
        full_names.push_back(to_std(f.full_name.view));
        EXPECT_EQ(path_of(f.path), folder);
        filename_release(f);
    }
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "A.jpg", "a.jpg", "b.jpg"}));
    for (const std::string& full : full_names)
        EXPECT_TRUE(file_exists(view(full))) << full;
}

TEST_F(PathDisk, FindFilesIsFalseForEmptyOrMissingFolders) {
    ASSERT_EQ(mkdir((folder + "/only_folders").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((folder + "/only_folders/sub").c_str(), 0700), 0);
    for (const std::string& path : {folder + "/only_folders", folder + "/missing"}) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(pathname_set(pathname, view(path)));
        std::vector<filename_t> files;
        EXPECT_FALSE(path_find_files(files, pathname));
        EXPECT_TRUE(files.empty());
    }
}

// ---------------------------------------------------------------------------------
// filename_t

TEST_F(Filename, SplitsAPathIntoItsParts) {
    ASSERT_EQ(chdir(folder.c_str()), 0);
    const std::string parent = std::filesystem::path(folder).parent_path().string();
    struct Case {
        const char* name;
        const char* text;
        std::string path;
        int32_t depth;
        const char* base;
        const char* extension;
        const char* file_name;
        std::string full_name;
    } cases[] = {
        {"raw file", "/a/b/IMG_0001.CR2", "/a/b", 2, "IMG_0001", "CR2", "IMG_0001.CR2",
         "/a/b/IMG_0001.CR2"},
        {"no extension composes the dot", "/a/b/README", "/a/b", 2, "README", "", "README.",
         "/a/b/README."},
        {"dot in the folder only", "/a/b.c/d", "/a/b.c", 2, "d", "", "d.", "/a/b.c/d."},
        {"dot file", "/a/.profile", "/a", 1, "", "profile", ".profile", "/a/.profile"},
        {"last dot splits", "/a/archive.tar.gz", "/a", 1, "archive.tar", "gz", "archive.tar.gz",
         "/a/archive.tar.gz"},
        {"unnormalised folder", "/a//b/../c/x.jpg", "/a/c", 2, "x", "jpg", "x.jpg", "/a/c/x.jpg"},
        {"backslashes", "\\a\\b\\x.jpg", "/a/b", 2, "x", "jpg", "x.jpg", "/a/b/x.jpg"},
        {"relative", "shots/a.jpg", folder + "/shots", path_depth(view(folder)) + 1, "a", "jpg",
         "a.jpg", folder + "/shots/a.jpg"},
        {"bare name", "a.jpg", folder, path_depth(view(folder)), "a", "jpg", "a.jpg",
         folder + "/a.jpg"},
        {"relative with a parent", "../up.jpg", parent, path_depth(view(parent)), "up", "jpg",
         "up.jpg", parent + "/up.jpg"},
        {"relative climbing out of a folder", "x/../../up.jpg", parent, path_depth(view(parent)),
         "up", "jpg", "up.jpg", parent + "/up.jpg"},
        {"in the root", "/IMG.JPG", "/", 1, "IMG", "JPG", "IMG.JPG", "/IMG.JPG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(filename_set(filename, string_make(c.text)));
        EXPECT_EQ(path_of(filename.path), c.path);
        EXPECT_EQ(filename.path.depth, c.depth);
        EXPECT_EQ(to_std(filename.base_name.view), c.base);
        EXPECT_EQ(to_std(filename.extension.view), c.extension);
        EXPECT_EQ(to_std(filename.name.view), c.file_name);
        EXPECT_EQ(to_std(filename.full_name.view), c.full_name);
    }
}

TEST_F(Filename, SetNameKeepsTheFolder) {
    struct Case {
        const char* name;
        const char* text;
        const char* full_name;
        const char* base;
        const char* extension;
    } cases[] = {
        {"base only keeps the extension", "IMG_0002", "/a/b/IMG_0002.CR2", "IMG_0002", "CR2"},
        {"with extension", "IMG_0002.JPG", "/a/b/IMG_0002.JPG", "IMG_0002", "JPG"},
        {"last component of a path", "other/dir/IMG_3.TIF", "/a/b/IMG_3.TIF", "IMG_3", "TIF"},
        {"empty changes nothing", "", "/a/b/IMG_0001.CR2", "IMG_0001", "CR2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(filename_set(filename, string_make("/a/b/IMG_0001.CR2")));
        filename_set_name(filename, string_make(c.text));
        EXPECT_EQ(to_std(filename.full_name.view), c.full_name);
        EXPECT_EQ(to_std(filename.base_name.view), c.base);
        EXPECT_EQ(to_std(filename.extension.view), c.extension);
        EXPECT_EQ(path_of(filename.path), "/a/b");
    }
}

TEST_F(Filename, SettersRecomposeTheNames) {
    ASSERT_TRUE(filename_set(filename, string_make("/a/b/IMG_0001.CR2")));
    ASSERT_TRUE(filename_set_basename(filename, string_make("edit")));
    EXPECT_EQ(to_std(filename.name.view), "edit.CR2");
    EXPECT_EQ(to_std(filename.full_name.view), "/a/b/edit.CR2");

    ASSERT_TRUE(filename_set_extension(filename, string_make("xmp")));
    EXPECT_EQ(to_std(filename.name.view), "edit.xmp");
    EXPECT_EQ(to_std(filename.full_name.view), "/a/b/edit.xmp");

    ASSERT_TRUE(filename_set_path(filename, string_make("/c//d/")));
    EXPECT_EQ(path_of(filename.path), "/c/d");
    EXPECT_EQ(filename.path.depth, 2);
    EXPECT_EQ(to_std(filename.full_name.view), "/c/d/edit.xmp");

    ASSERT_TRUE(pathname_set(pathname, string_make("/e/f/g")));
    ASSERT_TRUE(filename_set_path(filename, pathname));
    EXPECT_EQ(to_std(filename.full_name.view), "/e/f/g/edit.xmp");
    EXPECT_EQ(filename.path.depth, 3);
}

TEST_F(Filename, CopiesAreIndependent) {
    // Set from its own full name.
    ASSERT_TRUE(filename_set(filename, string_make("/a/b/IMG_0001.CR2")));
    ASSERT_TRUE(filename_set(filename, filename.full_name.view));
    EXPECT_EQ(to_std(filename.full_name.view), "/a/b/IMG_0001.CR2");
    EXPECT_EQ(to_std(filename.base_name.view), "IMG_0001");

    filename_t original;
    filename_initialise(original);
    ASSERT_TRUE(filename_set(original, string_make("/a/b/IMG_0001.CR2")));
    ASSERT_TRUE(filename_set(filename, original));
    filename_set_name(original, string_make("changed.jpg"));
    filename_release(original);
    EXPECT_EQ(to_std(filename.full_name.view), "/a/b/IMG_0001.CR2");
    EXPECT_EQ(to_std(filename.name.view), "IMG_0001.CR2");
    EXPECT_EQ(path_of(filename.path), "/a/b");
    EXPECT_EQ(filename.path.depth, 2);
}

// ---------------------------------------------------------------------------------
// Files

TEST_F(File, ExistsOnlyForRegularFiles) {
    write_text(folder + "/file", "x");
    ASSERT_EQ(symlink((folder + "/file").c_str(), (folder + "/link").c_str()), 0);
    ASSERT_EQ(symlink((folder + "/gone").c_str(), (folder + "/dangling").c_str()), 0);
    struct Case {
        const char* name;
        std::string path;
        bool exists;
    } cases[] = {
        {"regular file", folder + "/file", true},       {"link to a file", folder + "/link", true},
        {"dangling link", folder + "/dangling", false}, {"folder", folder, false},
        {"missing", folder + "/missing", false},        {"empty text", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(file_exists(view(c.path)), c.exists);
    }
}

TEST_F(File, SizeAndTimestamp) {
    const std::string path = folder + "/file";
    write_text(path, std::string("12345\0abc", 9));
    set_mtime(path, 1600000000);
    EXPECT_EQ(file_num_bytes(view(path)), 9u);
    EXPECT_EQ(file_timestamp(view(path)), 1600000000);
    EXPECT_EQ(file_num_bytes(view(folder + "/missing")), 0u);
    EXPECT_EQ(file_timestamp(view(folder + "/missing")), 0);
}

TEST_F(File, RenameReplacesAnExistingTarget) {
    const std::string from = folder + "/from", to = folder + "/to";
    write_text(from, "new");
    write_text(to, "old");
    EXPECT_TRUE(file_rename(view(from), view(to)));
    EXPECT_EQ(read_text(to), "new");
    EXPECT_FALSE(file_exists(view(from)));

    EXPECT_TRUE(file_rename(view(to), view(to))) << "onto itself";
    EXPECT_EQ(read_text(to), "new");

    EXPECT_FALSE(file_rename(view(folder + "/missing"), view(to)));
    EXPECT_EQ(read_text(to), "new");
}

TEST_F(File, RenameNoReplaceLeavesAnExistingTarget) {
    const std::string from = folder + "/from", to = folder + "/to";
    write_text(from, "source");
    write_text(to, "target");
    EXPECT_FALSE(file_rename_noreplace(view(from), view(to)));
    EXPECT_EQ(read_text(from), "source");
    EXPECT_EQ(read_text(to), "target");

    ASSERT_EQ(unlink(to.c_str()), 0);
    EXPECT_TRUE(file_rename_noreplace(view(from), view(to)));
    EXPECT_EQ(read_text(to), "source");
    EXPECT_FALSE(file_exists(view(from)));

    EXPECT_FALSE(file_rename_noreplace(view(folder + "/missing"), view(folder + "/other")));
}

TEST_F(File, DeleteReportsSuccess) {
    const std::string path = folder + "/file";
    write_text(path, "x");
    EXPECT_TRUE(file_delete(view(path)));
    EXPECT_FALSE(file_exists(view(path)));
    EXPECT_FALSE(file_delete(view(path)));
}

TEST_F(FileWriteAtomic, WritesTheWholeContent) {
    const std::string path = folder + "/data.bin";
    const std::string first("hello\0world", 11);
    EXPECT_TRUE(file_write_atomic(view(path), first.data(), first.size()));
    EXPECT_EQ(read_text(path), first);

    // A shorter replacement leaves nothing of the old content.
    EXPECT_TRUE(file_write_atomic(view(path), "abc", 3));
    EXPECT_EQ(read_text(path), "abc");

    std::string large(1 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 31 + (i >> 8));
    EXPECT_TRUE(file_write_atomic(view(path), large.data(), large.size()));
    EXPECT_EQ(read_text(path), large);
    EXPECT_EQ(list_folder(folder), std::set<std::string>{"data.bin"});
}

TEST_F(FileWriteAtomic, WritesATargetWithTheLongestName) {
    const std::string name = std::string(NAME_MAX - 4, 'n') + ".bin";
    const std::string path = folder + "/" + name;
    EXPECT_TRUE(file_write_atomic(view(path), "abc", 3));
    EXPECT_EQ(read_text(path), "abc");
    EXPECT_EQ(list_folder(folder), std::set<std::string>{name});
}

TEST_F(FileWriteAtomic, FailureLeavesTheOldStateAndNoTemporaryFile) {
    ASSERT_EQ(mkdir((folder + "/taken").c_str(), 0700), 0);
    write_text(folder + "/taken/keep", "inside");
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"folder missing", folder + "/missing/data.bin"},
        {"target is a folder", folder + "/taken"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(file_write_atomic(view(c.path), "abc", 3));
        EXPECT_EQ(list_folder(folder), std::set<std::string>{"taken"});
        EXPECT_EQ(list_folder(folder + "/taken"), std::set<std::string>{"keep"});
        EXPECT_EQ(read_text(folder + "/taken/keep"), "inside");
    }
}

TEST_F(FileWriteAtomic, WriteErrorLeavesTheOldFile) {
    const std::string path = folder + "/data.bin";
    write_text(path, "old");
    const std::string large(256 * 1024, 'x');

    FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.active);
    const bool written = file_write_atomic(view(path), large.data(), large.size());
    limit.restore();

    EXPECT_FALSE(written);
    EXPECT_EQ(read_text(path), "old");
    EXPECT_EQ(list_folder(folder), std::set<std::string>{"data.bin"});
}

TEST_F(FileContents, LoadsDataWithATerminator) {
    const std::string path = folder + "/data.bin";
    const std::string data("hello\0world", 11);
    write_text(path, data);
    set_mtime(path, 1500000000);

    EXPECT_EQ(filecontents_as_string(contents).length, 0u);
    EXPECT_NE(filecontents_as_string(contents).text, nullptr);

    ASSERT_TRUE(filecontents_load(contents, view(path)));
    ASSERT_NE(contents.data, nullptr);
    EXPECT_EQ(contents.length, 11u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(contents.data), contents.length), data);
    EXPECT_EQ(contents.data[contents.length], 0);
    EXPECT_EQ(contents.timestamp, 1500000000);
    EXPECT_EQ(to_std(filecontents_as_string(contents)), "hello");

    // Loading again replaces the record.
    write_text(path, "second");
    ASSERT_TRUE(filecontents_load(contents, view(path)));
    EXPECT_EQ(contents.length, 6u);
    EXPECT_EQ(to_std(filecontents_as_string(contents)), "second");
}

TEST_F(FileContents, FailureLeavesTheRecordEmpty) {
    const std::string good = folder + "/good", empty = folder + "/empty";
    write_text(good, "content");
    write_text(empty, "");
    ASSERT_EQ(mkdir((folder + "/dir").c_str(), 0700), 0);
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"empty file", empty},
        {"missing file", folder + "/missing"},
        {"folder", folder + "/dir"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(filecontents_load(contents, view(good)));
        EXPECT_FALSE(filecontents_load(contents, view(c.path)));
        EXPECT_EQ(contents.data, nullptr);
        EXPECT_EQ(contents.length, 0u);
        EXPECT_EQ(filecontents_as_string(contents).length, 0u);
    }
}

TEST_F(FileContentsDeathTest, RefusesAPipeWithoutWaitingForAWriter) {
    // A pipe in a photo folder is listed like any file; loading it must not block. The
    // load runs in a child process whose alarm only turns a hang into a failure.
    const std::string pipe = folder + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            alarm(5);
            const bool loaded = filecontents_load(contents, view(pipe));
            _exit(loaded || contents.data != nullptr ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(FileContents, LoadsASampleImage) {
    const std::string path = FENNICK_SAMPLES_DIR "/jpeg/mde-Nikon_D90.jpg";
    if (!std::filesystem::is_regular_file(path))
        GTEST_SKIP() << "sample missing: " << path;
    EXPECT_EQ(file_num_bytes(view(path)), 3196160u);
    ASSERT_TRUE(filecontents_load(contents, view(path)));
    ASSERT_EQ(contents.length, 3196160u);
    EXPECT_EQ(contents.data[0], 0xFF);
    EXPECT_EQ(contents.data[1], 0xD8);
    EXPECT_EQ(contents.data[contents.length], 0);
    EXPECT_EQ(contents.timestamp, file_timestamp(view(path)));
    EXPECT_EQ(read_text(path),
              std::string(reinterpret_cast<char*>(contents.data), contents.length));
}

} // namespace
