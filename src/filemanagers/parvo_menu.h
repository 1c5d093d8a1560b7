/* What the file managers' extension modules share: which of Parvo's two entries a selection
 * gets, its label in the desktop's language, and the run of parvo on the selection. The modules
 * live in the file manager's process, so they do no archive work: they start parvo and return. */
#pragma once

#include <glib.h>

G_BEGIN_DECLS

typedef enum {
  PARVO_MENU_NONE,
  PARVO_MENU_PACK,    /* every selected item is a folder */
  PARVO_MENU_EXTRACT, /* every selected item is an archive that parvo reads */
} ParvoMenuEntry;

/* One selected item: its local path (NULL when it has none, as on a remote share) and whether
 * it is a folder. */
typedef struct {
  const char* path;
  gboolean is_folder;
} ParvoMenuItem;

ParvoMenuEntry parvo_menu_entry_for(const ParvoMenuItem* items, gsize count);

/* The entry's label and tooltip, Japanese when the desktop's language is, else English. */
const char* parvo_menu_label(ParvoMenuEntry entry);
const char* parvo_menu_tooltip(ParvoMenuEntry entry);

/* Starts one parvo with the paths as its arguments, as a drop of the items would, and returns
 * without waiting. The paths go into its argument vector as they are: no shell sees them. */
gboolean parvo_menu_run(const char* const* paths, gsize count, GError** error);

G_END_DECLS
