/* The file managers' side of the menu modules' interfaces: a selected item, a Files module loaded
 * as Files loads it, a Thunar plugin loaded by libthunarx's own loader, and their menu items. */
#include "file_manager_hosts.h"

#include <gmodule.h>
#include <nautilus-extension.h>
#include <thunarx/thunarx.h>
/* The loader Thunar loads each plugin with: exported by libthunarx, left out of thunarx.h. */
#define THUNARX_INSIDE_THUNARX_H
#include <thunarx/thunarx-provider-module.h>
#undef THUNARX_INSIDE_THUNARX_H

/* A selected item, as both file managers hand it over; without a path it is on a remote share. */
typedef struct {
  GObject parent;
  char* path;
  gboolean is_folder;
} HostFile;
typedef GObjectClass HostFileClass;

static GFile* location(HostFile* file) {
  return file->path ? g_file_new_for_path(file->path) : g_file_new_for_uri("sftp://host/folder");
}
static gboolean is_folder(HostFile* file) {
  return file->is_folder;
}
static void files_info_init(NautilusFileInfoInterface* iface) {
  iface->get_location = (GFile * (*)(NautilusFileInfo*)) location;
  iface->is_directory = (gboolean(*)(NautilusFileInfo*))is_folder;
}
static void thunar_info_init(ThunarxFileInfoIface* iface) {
  iface->get_location = (GFile * (*)(ThunarxFileInfo*)) location;
  iface->is_directory = (gboolean(*)(ThunarxFileInfo*))is_folder;
}
G_DEFINE_TYPE_WITH_CODE(HostFile, host_file, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(NAUTILUS_TYPE_FILE_INFO, files_info_init)
                            G_IMPLEMENT_INTERFACE(THUNARX_TYPE_FILE_INFO, thunar_info_init))
static void host_file_init(HostFile* file) {
  (void)file;
}
static void host_file_finalize(GObject* file) {
  g_free(((HostFile*)file)->path);
  G_OBJECT_CLASS(host_file_parent_class)->finalize(file);
}
static void host_file_class_init(HostFileClass* klass) {
  klass->finalize = host_file_finalize;
}

GObject* host_file_new(const char* path, int folder) {
  HostFile* file = g_object_new(host_file_get_type(), NULL);
  file->path = g_strdup(path);
  file->is_folder = folder;
  return G_OBJECT(file);
}

/* Files opens each module in its extension folder as a GTypeModule, initialises it with that
 * module and makes an object of every type the module lists. */
typedef struct {
  GTypeModule parent;
  void (*list_types)(const GType**, int*);
} FilesModule;
typedef GTypeModuleClass FilesModuleClass;
G_DEFINE_TYPE(FilesModule, files_module, G_TYPE_TYPE_MODULE)

static gboolean files_module_load(GTypeModule* type_module) {
  GModule* library = g_module_open(type_module->name, G_MODULE_BIND_LAZY | G_MODULE_BIND_LOCAL);
  void (*initialize)(GTypeModule*) = NULL;
  if (!library || !g_module_symbol(library, "nautilus_module_initialize", (gpointer*)&initialize) ||
      !g_module_symbol(library, "nautilus_module_list_types",
                       (gpointer*)&((FilesModule*)type_module)->list_types))
    return FALSE;
  initialize(type_module);
  return TRUE;
}
static void files_module_init(FilesModule* module) {
  (void)module;
}
static void files_module_class_init(FilesModuleClass* klass) {
  klass->load = files_module_load;
}

static GObject* provider_of(const GType* types, int count, GType interface) {
  for (int i = 0; i < count; i++)
    if (g_type_is_a(types[i], interface)) return g_object_new(types[i], NULL);
  return NULL;
}

GObject* files_menu_provider_load(const char* module_path) {
  FilesModule* module = g_object_new(files_module_get_type(), NULL);
  g_type_module_set_name(G_TYPE_MODULE(module), module_path);
  if (!g_type_module_use(G_TYPE_MODULE(module))) return NULL;
  const GType* types = NULL;
  int count = 0;
  module->list_types(&types, &count);
  return provider_of(types, count, NAUTILUS_TYPE_MENU_PROVIDER);
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
  return provider_of(types, count, THUNARX_TYPE_MENU_PROVIDER);
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
