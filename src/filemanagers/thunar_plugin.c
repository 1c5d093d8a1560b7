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

static GFile* location_of(gpointer item) {
  return thunarx_file_info_get_location(item);
}

static gboolean is_folder(gpointer item) {
  return thunarx_file_info_is_directory(item);
}

static GList* parvo_thunar_menu_get_file_menu_items(ThunarxMenuProvider* provider,
                                                    GtkWidget* window, GList* files) {
  (void)provider;
  (void)window;
  GPtrArray* paths = NULL;
  const ParvoMenuEntry entry = parvo_menu_selection(files, location_of, is_folder, &paths);
  if (entry == PARVO_MENU_NONE) return NULL;
  ThunarxMenuItem* item =
      thunarx_menu_item_new(entry == PARVO_MENU_PACK ? "Parvo::pack" : "Parvo::extract",
                            parvo_menu_label(entry), parvo_menu_tooltip(entry), "parvo");
  parvo_menu_connect_run(item, paths);
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
