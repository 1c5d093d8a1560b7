// Parvo's right-click entries as the file managers load them: the Files module through the
// extension interface, the Thunar plugin through libthunarx's own module loader, the Nemo action by
// Nemo's rules for its Exec line. Each entry must start one parvo with every selected path whole.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "file_manager_hosts.h"
#include "support/process.h"
#include "support/temporary_folder.h"

namespace fs = std::filesystem;

namespace {

struct Item {
  std::string name;  // under the test's folder; empty for an item on a remote share
  bool isFolder;
};

struct Selection {
  const char* what;
  std::vector<Item> items;
  const char* english;  // nullptr: no entry
  const char* japanese;
};

// Names that a shell, a quoting step or an option parser would break.
const std::vector<Item> kHostileFolders = {{"two words", true},
                                           {"it's \"quoted\"", true},
                                           {"$HOME and `date`", true},
                                           {"-leading dash", true},
                                           {"new\nline", true}};

const Selection kSelections[] = {
    {"one folder", {{"Photos", true}}, "Pack with Parvo", "Parvoで圧縮"},
    {"folders with hostile names", kHostileFolders, "Pack with Parvo", "Parvoで圧縮"},
    {"the five archive types in parvo's spellings",
     {{"a.zip", false}, {"b.LZH", false}, {"c.Cab", false}, {"d.tar", false}, {"e.arj", false}},
     "Extract with Parvo",
     "Parvoで解凍"},
    {"a file parvo does not extract", {{"notes.txt", false}}, nullptr, nullptr},
    {"an extension in a spelling parvo does not read", {{"a.zIp", false}}, nullptr, nullptr},
    {"a folder and an archive", {{"Photos", true}, {"a.zip", false}}, nullptr, nullptr},
    {"a remote folder", {{"", true}}, nullptr, nullptr},
};

struct Host {
  const char* name;
  std::function<GObject*()> load;
  GList* (*items)(GObject*, GList*);
  void (*activate)(GObject*);
};

const Host kHosts[] = {
    {"Files", [] { return files_menu_provider_load(PARVO_NAUTILUS_MODULE); }, files_menu_items,
     files_menu_item_activate},
    {"Thunar", [] { return thunar_menu_provider_load(PARVO_THUNAR_PLUGIN); }, thunar_menu_items,
     thunar_menu_item_activate},
};

// A parvo on PATH that records the arguments of its run, NUL-terminated, into PARVO_RECORD.
class FileManagerMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(folder_ / "bin/parvo",
              "#!/bin/sh\nfor a; do printf '%s\\0' \"$a\"; done > \"$PARVO_RECORD.part\"\n"
              "mv \"$PARVO_RECORD.part\" \"$PARVO_RECORD\"\n");
    fs::permissions(folder_ / "bin/parvo", fs::perms::owner_all);
    setenv("PATH", (folder_ / "bin:/usr/bin:/bin").c_str(), 1);
    setenv("PARVO_RECORD", record().c_str(), 1);
  }

  std::string path(const Item& item) const {
    return item.name.empty() ? std::string() : folder_ / ("selected/" + item.name);
  }
  std::string record() const { return folder_ / "record"; }

  // The arguments of the one run, once it has recorded them.
  std::vector<std::string> recordedRun() const {
    for (int i = 0; i < 200 && !fs::exists(record()); i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::vector<std::string> arguments;
    const std::string text = fs::exists(record()) ? readFile(record()) : "";
    for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos;
         start = end + 1)
      arguments.push_back(text.substr(start, end - start));
    return arguments;
  }

  TemporaryFolder folder_;
};

TEST_F(FileManagerMenu, OffersTheEntryForTheSelectionInTheDesktopsLanguageAndRunsParvoOnIt) {
  for (const Host& host : kHosts) {
    GObject* provider = host.load();
    ASSERT_NE(provider, nullptr) << host.name;
    for (const Selection& selection : kSelections) {
      for (const auto& [language, expected] :
           {std::pair{"en_GB", selection.english}, std::pair{"ja_JP", selection.japanese}}) {
        SCOPED_TRACE(std::string(host.name) + ", " + selection.what + ", " + language);
        setenv("LANGUAGE", language, 1);
        GList* files = nullptr;
        std::vector<std::string> paths;
        for (const Item& item : selection.items) {
          files = g_list_append(
              files,
              host_file_new(item.name.empty() ? nullptr : path(item).c_str(), item.isFolder));
          paths.push_back(path(item));
        }
        GList* items = host.items(provider, files);
        g_list_free_full(files, g_object_unref);
        if (expected == nullptr) {
          EXPECT_EQ(items, nullptr);
          continue;
        }
        ASSERT_EQ(g_list_length(items), 1u);
        gchar* label = nullptr;
        g_object_get(items->data, "label", &label, nullptr);
        EXPECT_STREQ(label, expected);
        g_free(label);

        fs::remove(record());
        host.activate(G_OBJECT(items->data));
        EXPECT_EQ(recordedRun(), paths);
        g_list_free_full(items, g_object_unref);
      }
    }
    g_object_unref(provider);
  }
  unsetenv("LANGUAGE");
}

// Nemo splices %U into its Exec line, each URI in the quotes that Quote names, puts the action
// file's folder before a command in <>, splits the line as a shell would and runs it.
std::vector<std::string> nemoCommand(const std::string& actionFile,
                                     const std::vector<std::string>& paths) {
  GKeyFile* keys = g_key_file_new();
  EXPECT_TRUE(g_key_file_load_from_file(keys, actionFile.c_str(), G_KEY_FILE_NONE, nullptr));
  gchar* exec = g_key_file_get_string(keys, "Nemo Action", "Exec", nullptr);
  gchar* quote = g_key_file_get_string(keys, "Nemo Action", "Quote", nullptr);
  std::string line = exec != nullptr ? exec : "";
  const std::string mark = quote != nullptr && std::string(quote) == "double" ? "\"" : "";
  g_free(exec);
  g_free(quote);
  g_key_file_free(keys);
  if (line.starts_with('<') && line.ends_with('>'))
    line = fs::path(actionFile).parent_path().string() + "/" + line.substr(1, line.size() - 2);
  std::string uris;
  for (const std::string& path : paths) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    uris += (uris.empty() ? "" : " ") + mark + uri + mark;
    g_free(uri);
  }
  const std::size_t token = line.find("%U");
  EXPECT_NE(token, std::string::npos) << line;
  if (token != std::string::npos) line.replace(token, 2, uris);
  gchar** argv = nullptr;
  EXPECT_TRUE(g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) << line;
  std::vector<std::string> command;
  for (gchar** argument = argv; argument != nullptr && *argument != nullptr; argument++)
    command.push_back(*argument);
  g_strfreev(argv);
  return command;
}

TEST_F(FileManagerMenu, NemoActionsRunTheInstalledParvoOnEveryPathWhole) {
  const std::string prefix = folder_ / "installed";
  ASSERT_EQ(runProcess({PARVO_CMAKE_COMMAND, "--install", PARVO_BINARY_DIR, "--prefix", prefix}, {})
                .exitStatus,
            0);
  // The action's script runs the parvo installed beside it, whatever PATH holds.
  fs::copy_file(folder_ / "bin/parvo", prefix + "/bin/parvo", fs::copy_options::overwrite_existing);
  std::vector<std::string> folders, archives;
  for (const Item& item : kHostileFolders) folders.push_back(path(item));
  for (const char* name : {"two words.zip", "it's \"x\".lzh", "$x`y`.cab", "-a.tar", "n\nl.arj"})
    archives.push_back(folder_ / (std::string("selected/") + name));
  for (const auto& [action, paths] : {std::pair{"parvo-pack.nemo_action", folders},
                                      std::pair{"parvo-extract.nemo_action", archives}}) {
    SCOPED_TRACE(action);
    fs::remove(record());
    const auto run = runProcess(nemoCommand(prefix + "/share/nemo/actions/" + action, paths),
                                {"PATH=/usr/bin:/bin", "PARVO_RECORD=" + record()});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_EQ(recordedRun(), paths);
  }
}

}  // namespace
