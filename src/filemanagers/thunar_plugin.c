/* Parvo's entries in Thunar's right-click menu (thunarx-3): "Pack with Parvo" on folders,
 * "Extract with Parvo" on archives. */
#include <thunarx/thunarx.h>

#include "parvo_menu.h"

typedef struct {
  GObject parent;
} ParvoThunarMenu;

typedef struct {
  GObjectClass parent_class;
} ParvoThunarMenuClass;

static GType parvo_thunar_menu_get_type(void);
static void parvo_thunar_menu_register_type(ThunarxProviderPlugin* plugin);
static void parvo_thunar_menu_provider_init(ThunarxMenuProviderIface* iface);

THUNARX_DEFINE_TYPE_WITH_CODE(ParvoThunarMenu, parvo_thunar_menu, G_TYPE_OBJECT,
                              THUNARX_IMPLEMENT_INTERFACE(THUNARX_TYPE_MENU_PROVIDER,
                                                          parvo_thunar_menu_provider_init))

static void run_parvo(ThunarxMenuItem* item, gpointer paths) {
  (void)item;
  GError* error = NULL;
  const GPtrArray* array = paths;
  if (!parvo_menu_run((const char* const*)array->pdata, array->len, &error)) {
    g_warning("parvo could not be started: %s", error->message);
    g_error_free(error);
  }
}

static void free_paths(gpointer paths, GClosure* closure) {
  (void)closure;
  g_ptr_array_unref(paths);
}

static GList* parvo_thunar_menu_get_file_menu_items(ThunarxMenuProvider* provider,
                                                    GtkWidget* window, GList* files) {
  (void)provider;
  (void)window;
  const guint count = g_list_length(files);
  GPtrArray* paths = g_ptr_array_new_full(count, g_free);
  ParvoMenuItem* items = g_new0(ParvoMenuItem, count ? count : 1);
  guint i = 0;
  for (GList* link = files; link != NULL; link = link->next, i++) {
    GFile* location = thunarx_file_info_get_location(link->data);
    char* path = g_file_get_path(location);
    g_object_unref(location);
    items[i].path = path;
    items[i].is_folder = thunarx_file_info_is_directory(link->data);
    if (path != NULL) g_ptr_array_add(paths, path);
  }
  const ParvoMenuEntry entry = parvo_menu_entry_for(items, count);
  g_free(items);
  if (entry == PARVO_MENU_NONE) {
    g_ptr_array_unref(paths);
    return NULL;
  }
  ThunarxMenuItem* item =
      thunarx_menu_item_new(entry == PARVO_MENU_PACK ? "Parvo::pack" : "Parvo::extract",
                            parvo_menu_label(entry), parvo_menu_tooltip(entry), "parvo");
  g_signal_connect_data(item, "activate", G_CALLBACK(run_parvo), paths, free_paths, 0);
  return g_list_append(NULL, item);
}

static void parvo_thunar_menu_provider_init(ThunarxMenuProviderIface* iface) {
  iface->get_file_menu_items = parvo_thunar_menu_get_file_menu_items;
}

static void parvo_thunar_menu_init(ParvoThunarMenu* self) {
  (void)self;
}
static void parvo_thunar_menu_class_init(ParvoThunarMenuClass* klass) {
  (void)klass;
}

static GType provider_types[1];

G_MODULE_EXPORT void thunar_extension_initialize(ThunarxProviderPlugin* plugin) {
  const gchar* mismatch =
      thunarx_check_version(THUNARX_MAJOR_VERSION, THUNARX_MINOR_VERSION, THUNARX_MICRO_VERSION);
  if (mismatch != NULL) {
    g_warning("Parvo's Thunar plugin does not fit this Thunar: %s", mismatch);
    return;
  }
  /* The plugin holds a GType registered with it: Thunar must never unload it. */
  thunarx_provider_plugin_set_resident(plugin, TRUE);
  parvo_thunar_menu_register_type(plugin);
  provider_types[0] = parvo_thunar_menu_get_type();
}

G_MODULE_EXPORT void thunar_extension_shutdown(void) {}

G_MODULE_EXPORT void thunar_extension_list_types(const GType** types, gint* n_types) {
  *types = provider_types;
  *n_types = provider_types[0] == G_TYPE_INVALID ? 0 : G_N_ELEMENTS(provider_types);
}
