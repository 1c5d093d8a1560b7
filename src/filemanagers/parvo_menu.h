/* What the file managers' extension modules share: which of Parvo's two entries a selection
 * gets, its label in the desktop's language, and the run of parvo on the selection. The modules
 * live in the file manager's process, so they do no archive work: they start parvo and return. */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

typedef enum {
  PARVO_MENU_NONE,
  PARVO_MENU_PACK,    /* every selected item is a folder */
  PARVO_MENU_EXTRACT, /* every selected item is an archive that parvo reads */
} ParvoMenuEntry;

/* A file manager's accessors for one selected item: its location, and whether it is a folder. */
typedef GFile* (*ParvoLocationOf)(gpointer item);
typedef gboolean (*ParvoIsFolder)(gpointer item);

/* The entry a selection gets. With an entry, *paths holds the selected items' local paths, for
 * parvo_menu_connect_run; with PARVO_MENU_NONE (an item with no local path, as on a remote
 * share, or a selection of neither kind alone) it is NULL. */
ParvoMenuEntry parvo_menu_selection(GList* files, ParvoLocationOf location_of,
                                    ParvoIsFolder is_folder, GPtrArray** paths);

/* The entry's label and tooltip, Japanese when the desktop's language is, else English. */
const char* parvo_menu_label(ParvoMenuEntry entry);
const char* parvo_menu_tooltip(ParvoMenuEntry entry);

/* Makes the menu item's "activate" start one parvo with the paths as its arguments, as a drop of
 * the items would, and return without waiting; the item takes the paths. No shell sees them. */
void parvo_menu_connect_run(gpointer menu_item, GPtrArray* paths);

G_END_DECLS
