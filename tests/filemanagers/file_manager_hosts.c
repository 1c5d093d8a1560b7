/* The file managers' side of their extension interfaces, as far as the menu modules use it: a
 * selected item, and the loading of a module: a Files module as Files loads it, a Thunar plugin
 * by libthunarx's own loader. */
#include "file_manager_hosts.h"

#include <gmodule.h>
#include <nautilus-extension.h>
#include <thunarx/thunarx.h>
/* The loader Thunar loads each plugin with: exported by libthunarx, left out of thunarx.h. */
#define THUNARX_INSIDE_THUNARX_H
#include <thunarx/thunarx-provider-module.h>
#undef THUNARX_INSIDE_THUNARX_H

/* A selected item as both file managers hand it to an extension. */
typedef struct {
  GObject parent;
  char* path;
  gboolean is_folder;
} HostFile;

typedef struct {
  GObjectClass parent_class;
} HostFileClass;

static GFile* host_file_location(HostFile* file) {
  /* An item without a local path stands for one on a remote share. */
  return file->path != NULL ? g_file_new_for_path(file->path)
                            : g_file_new_for_uri("sftp://example.org/remote/folder");
}

static GFile* nautilus_location(NautilusFileInfo* info) {
  return host_file_location((HostFile*)info);
}
static gboolean nautilus_is_directory(NautilusFileInfo* info) {
  return ((HostFile*)info)->is_folder;
}
static void nautilus_file_info_init(NautilusFileInfoInterface* iface) {
  iface->get_location = nautilus_location;
  iface->is_directory = nautilus_is_directory;
}

static GFile* thunar_location(ThunarxFileInfo* info) {
  return host_file_location((HostFile*)info);
}
static gboolean thunar_is_directory(ThunarxFileInfo* info) {
  return ((HostFile*)info)->is_folder;
}
static void thunar_file_info_init(ThunarxFileInfoIface* iface) {
  iface->get_location = thunar_location;
  iface->is_directory = thunar_is_directory;
}

G_DEFINE_TYPE_WITH_CODE(HostFile, host_file, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(NAUTILUS_TYPE_FILE_INFO, nautilus_file_info_init)
                            G_IMPLEMENT_INTERFACE(THUNARX_TYPE_FILE_INFO, thunar_file_info_init))

static void host_file_finalize(GObject* object) {
  g_free(((HostFile*)object)->path);
  G_OBJECT_CLASS(host_file_parent_class)->finalize(object);
}
static void host_file_init(HostFile* file) {
  (void)file;
}
static void host_file_class_init(HostFileClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = host_file_finalize;
}

GObject* host_file_new(const char* path, int is_folder) {
  HostFile* file = g_object_new(host_file_get_type(), NULL);
  file->path = g_strdup(path);
  file->is_folder = is_folder;
  return G_OBJECT(file);
}

/* Files loads each module in its extension folder as a GTypeModule, initialises it with that
 * module and instantiates every type it lists. */
typedef struct {
  GTypeModule parent;
  GModule* library;
  void (*initialize)(GTypeModule*);
  void (*shutdown)(void);
  void (*list_types)(const GType**, int*);
} FilesModule;

typedef struct {
  GTypeModuleClass parent_class;
} FilesModuleClass;

G_DEFINE_TYPE(FilesModule, files_module, G_TYPE_TYPE_MODULE)

static gboolean files_module_load(GTypeModule* type_module) {
  FilesModule* module = (FilesModule*)type_module;
  module->library = g_module_open(type_module->name, G_MODULE_BIND_LAZY | G_MODULE_BIND_LOCAL);
  if (module->library == NULL) {
    g_warning("%s", g_module_error());
    return FALSE;
  }
  if (!g_module_symbol(module->library, "nautilus_module_initialize",
                       (gpointer*)&module->initialize) ||
      !g_module_symbol(module->library, "nautilus_module_shutdown", (gpointer*)&module->shutdown) ||
      !g_module_symbol(module->library, "nautilus_module_list_types",
                       (gpointer*)&module->list_types)) {
    g_module_close(module->library);
    return FALSE;
  }
  module->initialize(type_module);
  return TRUE;
}

static void files_module_unload(GTypeModule* type_module) {
  FilesModule* module = (FilesModule*)type_module;
  module->shutdown();
  g_module_close(module->library);
}

static void files_module_init(FilesModule* module) {
  (void)module;
}
static void files_module_class_init(FilesModuleClass* klass) {
  G_TYPE_MODULE_CLASS(klass)->load = files_module_load;
  G_TYPE_MODULE_CLASS(klass)->unload = files_module_unload;
}

GObject* files_menu_provider_load(const char* module_path) {
  FilesModule* module = g_object_new(files_module_get_type(), NULL);
  g_type_module_set_name(G_TYPE_MODULE(module), module_path);
  if (!g_type_module_use(G_TYPE_MODULE(module))) return NULL;
  const GType* types = NULL;
  int count = 0;
  module->list_types(&types, &count);
  for (int i = 0; i < count; i++) {
    if (g_type_is_a(types[i], NAUTILUS_TYPE_MENU_PROVIDER)) return g_object_new(types[i], NULL);
  }
  return NULL;
}

GList* files_menu_items(GObject* provider, GList* files) {
  return nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider), files);
}

void files_menu_item_activate(GObject* item) {
  nautilus_menu_item_activate((NautilusMenuItem*)item);
}

GObject* thunar_menu_provider_load(const char* plugin_path) {
  /* It takes a name within Thunar's plugin folders, /usr/lib/ARCH/thunarx-3 and
   * /usr/lib/thunarx-3; from either, four levels up is the root. */
  gchar* name = g_strconcat("../../../..", plugin_path, NULL);
  ThunarxProviderModule* module = thunarx_provider_module_new(name);
  g_free(name);
  if (!g_type_module_use(G_TYPE_MODULE(module))) return NULL;
  const GType* types = NULL;
  gint count = 0;
  thunarx_provider_module_list_types(module, &types, &count);
  for (gint i = 0; i < count; i++) {
    if (g_type_is_a(types[i], THUNARX_TYPE_MENU_PROVIDER)) return g_object_new(types[i], NULL);
  }
  return NULL;
}

GList* thunar_menu_items(GObject* provider, GList* files) {
  /* Through the interface's method table: its wrapper insists on a window, which takes a display,
   * and the plugin does not use it. */
  return THUNARX_MENU_PROVIDER_GET_IFACE(provider)->get_file_menu_items(
      THUNARX_MENU_PROVIDER(provider), NULL, files);
}

void thunar_menu_item_activate(GObject* item) {
  thunarx_menu_item_activate((ThunarxMenuItem*)item);
}
