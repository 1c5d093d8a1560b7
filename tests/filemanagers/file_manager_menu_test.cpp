// Parvo's right-click entries as the file managers load them: the Files module through the
// extension interface, the Thunar plugin through libthunarx's own module loader, the Nemo action by
// Nemo's rules for its Exec line. Each entry must start one parvo with every selected path whole.
#include <gmodule.h>
#include <gtest/gtest.h>
#include <nautilus-extension.h>
#include <thunarx/thunarx.h>

#include <sstream>

#include "support/process.h"
#include "support/temporary_folder.h"
// The loader Thunar loads each plugin with: exported by libthunarx, left out of thunarx.h.
#define THUNARX_INSIDE_THUNARX_H
extern "C" {
#include <thunarx/thunarx-provider-module.h>
}
#undef THUNARX_INSIDE_THUNARX_H

namespace {

// A selected item, as both file managers hand it over; without a path it is on a remote share.
struct HostFile {
  GObject parent;
  char* path;
  gboolean isFolder;
};
using HostFileClass = GObjectClass;

GFile* location(HostFile* file) {
  return file->path ? g_file_new_for_path(file->path) : g_file_new_for_uri("sftp://host/folder");
}
gboolean isFolder(HostFile* file) {
  return file->isFolder;
}
void filesInfoInit(NautilusFileInfoInterface* iface) {
  iface->get_location = reinterpret_cast<GFile* (*)(NautilusFileInfo*)>(location);
  iface->is_directory = reinterpret_cast<gboolean (*)(NautilusFileInfo*)>(isFolder);
}
void thunarInfoInit(ThunarxFileInfoIface* iface) {
  iface->get_location = reinterpret_cast<GFile* (*)(ThunarxFileInfo*)>(location);
  iface->is_directory = reinterpret_cast<gboolean (*)(ThunarxFileInfo*)>(isFolder);
}
G_DEFINE_TYPE_WITH_CODE(HostFile, host_file, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(NAUTILUS_TYPE_FILE_INFO, filesInfoInit)
                            G_IMPLEMENT_INTERFACE(THUNARX_TYPE_FILE_INFO, thunarInfoInit))
void host_file_init(HostFile*) {}
void hostFileFinalize(GObject* file) {
  g_free(reinterpret_cast<HostFile*>(file)->path);
  G_OBJECT_CLASS(host_file_parent_class)->finalize(file);
}
void host_file_class_init(HostFileClass* klass) {
  klass->finalize = hostFileFinalize;
}

// Files opens each module in its extension folder as a GTypeModule, initialises it with that
// module and makes an object of every type the module lists.
struct FilesModule {
  GTypeModule parent;
  void (*listTypes)(const GType**, int*);
};
using FilesModuleClass = GTypeModuleClass;
G_DEFINE_TYPE(FilesModule, files_module, G_TYPE_TYPE_MODULE)

gboolean loadFilesModule(GTypeModule* module) {
  GModule* library =
      g_module_open(module->name, GModuleFlags(G_MODULE_BIND_LAZY | G_MODULE_BIND_LOCAL));
  void (*initialize)(GTypeModule*) = nullptr;
  if (!library ||
      !g_module_symbol(library, "nautilus_module_initialize",
                       reinterpret_cast<gpointer*>(&initialize)) ||
      !g_module_symbol(
          library, "nautilus_module_list_types",
          reinterpret_cast<gpointer*>(&reinterpret_cast<FilesModule*>(module)->listTypes)))
    return FALSE;
  initialize(module);
  return TRUE;
}
void files_module_init(FilesModule*) {}
void files_module_class_init(FilesModuleClass* klass) {
  klass->load = loadFilesModule;
}

GObject* providerOf(const GType* types, int count, GType interface) {
  for (int i = 0; i < count; i++)
    if (g_type_is_a(types[i], interface)) return G_OBJECT(g_object_new(types[i], nullptr));
  return nullptr;
}

struct Item {
  std::string name;  // empty: an item on a remote share
  bool isFolder;
};

// Names that a shell, a quoting step or an option parser would break.
const std::vector<Item> kHostileFolders = {{"two words", true},
                                           {"it's \"quoted\"", true},
                                           {"$HOME `date`", true},
                                           {"-dash", true},
                                           {"new\nline", true}};

const struct {
  std::vector<Item> items;
  const char* english;  // nullptr: no entry
  const char* japanese;
} kSelections[] = {
    {kHostileFolders, "Pack with Parvo", "Parvoで圧縮"},
    {{{"a.zip", false}, {"b.LZH", false}, {"c.Cab", false}, {"d.tar", false}, {"e.arj", false}},
     "Extract with Parvo",
     "Parvoで解凍"},
    {{{"notes.txt", false}}, nullptr, nullptr},
    {{{"a.zIp", false}}, nullptr, nullptr},  // a spelling parvo does not read
    {{{"Photos", true}, {"a.zip", false}}, nullptr, nullptr},
    {{{"", true}}, nullptr, nullptr},
};

const struct {
  const char* name;
  GObject* (*load)();
  GList* (*items)(GObject*, GList*);
  void (*activate)(GObject*);
} kHosts[] = {
    {"Files",
     [] {
       auto* module = static_cast<FilesModule*>(g_object_new(files_module_get_type(), nullptr));
       g_type_module_set_name(G_TYPE_MODULE(module), PARVO_NAUTILUS_MODULE);
       if (!g_type_module_use(G_TYPE_MODULE(module))) return static_cast<GObject*>(nullptr);
       const GType* types = nullptr;
       int count = 0;
       module->listTypes(&types, &count);
       return providerOf(types, count, NAUTILUS_TYPE_MENU_PROVIDER);
     },
     [](GObject* provider, GList* files) {
       return nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider), files);
     },
     [](GObject* item) { nautilus_menu_item_activate(NAUTILUS_MENU_ITEM(item)); }},
    {"Thunar",
     [] {
       // It takes a name within Thunar's plugin folders, /usr/lib/ARCH/thunarx-3 and
       // /usr/lib/thunarx-3; from either, four levels up is the root.
       ThunarxProviderModule* module =
           thunarx_provider_module_new("../../../.." PARVO_THUNAR_PLUGIN);
       if (!g_type_module_use(G_TYPE_MODULE(module))) return static_cast<GObject*>(nullptr);
       const GType* types = nullptr;
       gint count = 0;
       thunarx_provider_module_list_types(module, &types, &count);
       return providerOf(types, count, THUNARX_TYPE_MENU_PROVIDER);
     },
     // Through the interface's method table: its wrapper insists on a window, which takes a
     // display, and the plugin does not use it.
     [](GObject* provider, GList* files) {
       return THUNARX_MENU_PROVIDER_GET_IFACE(provider)->get_file_menu_items(
           THUNARX_MENU_PROVIDER(provider), nullptr, files);
     },
     [](GObject* item) { thunarx_menu_item_activate(THUNARX_MENU_ITEM(item)); }},
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
  std::string path(const std::string& name) const {
    return name.empty() ? name : folder_ / ("selected/" + name);
  }
  std::string record() const { return folder_ / "record"; }

  // The arguments of the run, once it has recorded them (a busy machine may take its time); the
  // record is then taken away.
  std::vector<std::string> recordedRun() const {
    for (int i = 0; i < 2400 && !fs::exists(record()); i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::istringstream text(fs::exists(record()) ? readFile(record()) : "");
    fs::remove(record());
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(text, argument, '\0');) arguments.push_back(argument);
    return arguments;
  }

  TemporaryFolder folder_;
};

TEST_F(FileManagerMenu, OffersTheEntryForTheSelectionInTheDesktopsLanguageAndRunsParvoOnIt) {
  for (const auto& host : kHosts) {
    GObject* provider = host.load();
    ASSERT_NE(provider, nullptr) << host.name;
    for (const auto& selection : kSelections) {
      for (const auto& [language, expected] :
           {std::pair{"en_GB", selection.english}, std::pair{"ja_JP", selection.japanese}}) {
        SCOPED_TRACE(std::string(host.name) + ", " + selection.items[0].name + ", " + language);
        setenv("LANGUAGE", language, 1);
        GList* files = nullptr;
        std::vector<std::string> paths;
        for (const Item& item : selection.items) {
          paths.push_back(path(item.name));
          auto* file = static_cast<HostFile*>(g_object_new(host_file_get_type(), nullptr));
          file->path = item.name.empty() ? nullptr : g_strdup(paths.back().c_str());
          file->isFolder = item.isFolder;
          files = g_list_append(files, file);
        }
        GList* items = host.items(provider, files);
        g_list_free_full(files, g_object_unref);
        ASSERT_EQ(g_list_length(items), expected ? 1u : 0u);
        if (!expected) continue;
        g_autofree gchar* label = nullptr;
        g_object_get(items->data, "label", &label, nullptr);
        EXPECT_STREQ(label, expected);
        host.activate(G_OBJECT(items->data));
        EXPECT_EQ(recordedRun(), paths);
        g_list_free_full(items, g_object_unref);
      }
    }
    g_object_unref(provider);
  }
  unsetenv("LANGUAGE");
}

// Nemo splices %U into its Exec line, each URI within the quotes Quote names, puts the action
// file's folder before a command in <>, and splits the line as a shell would.
std::vector<std::string> nemoCommand(const std::string& actionFile,
                                     const std::vector<std::string>& paths) {
  g_autoptr(GKeyFile) keys = g_key_file_new();
  EXPECT_TRUE(g_key_file_load_from_file(keys, actionFile.c_str(), G_KEY_FILE_NONE, nullptr));
  g_autofree gchar* exec = g_key_file_get_string(keys, "Nemo Action", "Exec", nullptr);
  g_autofree gchar* quote = g_key_file_get_string(keys, "Nemo Action", "Quote", nullptr);
  std::string line = exec ? exec : "", mark = quote && std::string(quote) == "double" ? "\"" : "";
  if (line.starts_with('<') && line.ends_with('>'))
    line = fs::path(actionFile).parent_path().string() + "/" + line.substr(1, line.size() - 2);
  std::string uris;
  for (const std::string& path : paths) {
    g_autofree gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    uris += (uris.empty() ? "" : " ") + mark + uri + mark;
  }
  if (const std::size_t token = line.find("%U"); token != std::string::npos)
    line.replace(token, 2, uris);
  g_auto(GStrv) argv = nullptr;
  EXPECT_TRUE(g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) << line;
  return {argv, argv ? argv + g_strv_length(argv) : argv};
}

TEST_F(FileManagerMenu, NemoActionsRunTheInstalledParvoOnEveryPathWhole) {
  // The installed actions, with the recording parvo installed beside them: the action runs that
  // one, whatever PATH holds.
  const std::string prefix = folder_.path();
  fs::create_directories(prefix + "/share/nemo");
  fs::copy(PARVO_INSTALLED "/share/nemo/actions", prefix + "/share/nemo/actions");
  std::vector<std::string> folders, archives;
  for (const Item& item : kHostileFolders) {
    folders.push_back(path(item.name));
    archives.push_back(path(item.name + ".zip"));
  }
  for (const auto& [action, paths] : {std::pair{"parvo-pack.nemo_action", folders},
                                      std::pair{"parvo-extract.nemo_action", archives}}) {
    const auto run = runProcess(nemoCommand(prefix + "/share/nemo/actions/" + action, paths),
                                {"PATH=/usr/bin:/bin", "PARVO_RECORD=" + record()});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_EQ(recordedRun(), paths) << action;
  }
}

}  // namespace
