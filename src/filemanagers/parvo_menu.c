#include "parvo_menu.h"

#include <string.h>

/* parvo tells an archive by the last four characters of its name, in three spellings; an
 * entry offered for anything else would end in its "can't be extracted" message. */
static gboolean is_archive_parvo_reads(const char* path) {
  static const char* const extensions[] = {".cab", ".CAB", ".Cab", ".lzh", ".LZH",
                                           ".Lzh", ".zip", ".ZIP", ".Zip", ".tar",
                                           ".TAR", ".Tar", ".arj", ".ARJ", ".Arj"};
  const gsize length = strlen(path);
  if (length < 4) return FALSE;
  for (gsize i = 0; i < G_N_ELEMENTS(extensions); i++) {
    if (memcmp(path + length - 4, extensions[i], 4) == 0) return TRUE;
  }
  return FALSE;
}

ParvoMenuEntry parvo_menu_entry_for(const ParvoMenuItem* items, gsize count) {
  gboolean all_folders = count > 0, all_archives = count > 0;
  for (gsize i = 0; i < count; i++) {
    if (items[i].path == NULL) return PARVO_MENU_NONE;
    if (items[i].is_folder) {
      all_archives = FALSE;
    } else {
      all_folders = FALSE;
      if (!is_archive_parvo_reads(items[i].path)) all_archives = FALSE;
    }
  }
  if (all_folders) return PARVO_MENU_PACK;
  if (all_archives) return PARVO_MENU_EXTRACT;
  return PARVO_MENU_NONE;
}

/* The first of the user's languages that Parvo speaks decides; C and POSIX are English. */
static gboolean desktop_speaks_japanese(void) {
  for (const char* const* name = g_get_language_names(); *name != NULL; name++) {
    if (g_str_has_prefix(*name, "ja")) return TRUE;
    if (g_str_has_prefix(*name, "en") || strcmp(*name, "C") == 0 || strcmp(*name, "POSIX") == 0)
      return FALSE;
  }
  return FALSE;
}

const char* parvo_menu_label(ParvoMenuEntry entry) {
  const gboolean japanese = desktop_speaks_japanese();
  switch (entry) {
    case PARVO_MENU_PACK:
      return japanese ? "Parvoで圧縮" : "Pack with Parvo";
    case PARVO_MENU_EXTRACT:
      return japanese ? "Parvoで解凍" : "Extract with Parvo";
    case PARVO_MENU_NONE:
      break;
  }
  return NULL;
}

const char* parvo_menu_tooltip(ParvoMenuEntry entry) {
  const gboolean japanese = desktop_speaks_japanese();
  switch (entry) {
    case PARVO_MENU_PACK:
      return japanese ? "フォルダをデスクトップに圧縮します" : "Pack the folders onto the desktop";
    case PARVO_MENU_EXTRACT:
      return japanese ? "書庫をデスクトップのフォルダに解凍します"
                      : "Extract the archives into folders on the desktop";
    case PARVO_MENU_NONE:
      break;
  }
  return NULL;
}

gboolean parvo_menu_run(const char* const* paths, gsize count, GError** error) {
  const char** argv = g_new0(const char*, count + 2);
  argv[0] = "parvo";
  for (gsize i = 0; i < count; i++) argv[i + 1] = paths[i];
  /* Without G_SPAWN_DO_NOT_REAP_CHILD the run is detached, so it outlives no zombie and never
   * holds up the file manager. */
  const gboolean started =
      g_spawn_async(NULL, (char**)argv, NULL, G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL,
                    NULL, NULL, NULL, error);
  g_free(argv);
  return started;
}
