// What the menu tests need of Files and Thunar: selected items, the modules loaded as each file
// manager loads them, their menu items and the items' activation.
#pragma once

#include <glib-object.h>

G_BEGIN_DECLS

// A selected item that is both file managers' file info; a NULL path stands for a remote one.
GObject* host_file_new(const char* path, int is_folder);

GObject* files_menu_provider_load(const char* module_path);
GList* files_menu_items(GObject* provider, GList* files);
void files_menu_item_activate(GObject* item);

// Through libthunarx's provider module, which Thunar loads each plugin with.
GObject* thunar_menu_provider_load(const char* plugin_path);
GList* thunar_menu_items(GObject* provider, GList* files);
void thunar_menu_item_activate(GObject* item);

G_END_DECLS
