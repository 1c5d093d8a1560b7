/* Parvo's entries in the right-click menu of Files (libnautilus-extension-4): "Pack with Parvo"
 * on folders, "Extract with Parvo" on archives. */
#include <nautilus-extension.h>

#include "parvo_menu.h"

#define PARVO_TYPE_NAUTILUS_MENU (parvo_nautilus_menu_get_type())
G_DECLARE_FINAL_TYPE(ParvoNautilusMenu, parvo_nautilus_menu, PARVO, NAUTILUS_MENU, GObject)

struct _ParvoNautilusMenu {
  GObject parent;
};

static void parvo_nautilus_menu_provider_init(NautilusMenuProviderInterface* iface);

G_DEFINE_DYNAMIC_TYPE_EXTENDED(ParvoNautilusMenu, parvo_nautilus_menu, G_TYPE_OBJECT, 0,
                               G_IMPLEMENT_INTERFACE_DYNAMIC(NAUTILUS_TYPE_MENU_PROVIDER,
                                                             parvo_nautilus_menu_provider_init))

static GFile* location_of(gpointer item) {
  return nautilus_file_info_get_location(item);
}

static gboolean is_folder(gpointer item) {
  return nautilus_file_info_is_directory(item);
}

static GList* parvo_nautilus_menu_get_file_items(NautilusMenuProvider* provider, GList* files) {
  (void)provider;
  GPtrArray* paths = NULL;
  const ParvoMenuEntry entry = parvo_menu_selection(files, location_of, is_folder, &paths);
  if (entry == PARVO_MENU_NONE) return NULL;
  NautilusMenuItem* item =
      nautilus_menu_item_new(entry == PARVO_MENU_PACK ? "Parvo::pack" : "Parvo::extract",
                             parvo_menu_label(entry), parvo_menu_tooltip(entry), "parvo");
  parvo_menu_connect_run(item, paths);
  return g_list_append(NULL, item);
}

static void parvo_nautilus_menu_provider_init(NautilusMenuProviderInterface* iface) {
  iface->get_file_items = parvo_nautilus_menu_get_file_items;
}

static void parvo_nautilus_menu_init(ParvoNautilusMenu* self) {
  (void)self;
}
static void parvo_nautilus_menu_class_init(ParvoNautilusMenuClass* klass) {
  (void)klass;
}
static void parvo_nautilus_menu_class_finalize(ParvoNautilusMenuClass* klass) {
  (void)klass;
}

static GType provider_types[1];

G_MODULE_EXPORT void nautilus_module_initialize(GTypeModule* module) {
  parvo_nautilus_menu_register_type(module);
  provider_types[0] = PARVO_TYPE_NAUTILUS_MENU;
}

G_MODULE_EXPORT void nautilus_module_shutdown(void) {}

G_MODULE_EXPORT void nautilus_module_list_types(const GType** types, int* num_types) {
  *types = provider_types;
  *num_types = G_N_ELEMENTS(provider_types);
}
