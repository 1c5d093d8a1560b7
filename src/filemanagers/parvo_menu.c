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

ParvoMenuEntry parvo_menu_selection(GList* files, ParvoLocationOf location_of,
                                    ParvoIsFolder is_folder, GPtrArray** paths) {
  *paths = g_ptr_array_new_with_free_func(g_free);
  gboolean all_folders = files != NULL, all_archives = files != NULL;
  for (GList* link = files; link != NULL; link = link->next) {
    GFile* location = location_of(link->data);
    char* path = g_file_get_path(location);
    g_object_unref(location);
    if (path == NULL) {
      all_folders = all_archives = FALSE;
      break;
    }
    g_ptr_array_add(*paths, path);
    if (is_folder(link->data)) {
      all_archives = FALSE;
    } else {
      all_folders = FALSE;
      if (!is_archive_parvo_reads(path)) all_archives = FALSE;
    }
  }
  if (all_folders) return PARVO_MENU_PACK;
  if (all_archives) return PARVO_MENU_EXTRACT;
  g_ptr_array_unref(*paths);
  *paths = NULL;
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

static void run_parvo(gpointer menu_item, gpointer paths) {
  (void)menu_item;
  const GPtrArray* array = paths;
  const char** argv = g_new0(const char*, array->len + 2);
  argv[0] = "parvo";
  for (guint i = 0; i < array->len; i++) argv[i + 1] = g_ptr_array_index(array, i);
  /* Without G_SPAWN_DO_NOT_REAP_CHILD the run is detached, so it outlives no zombie and never
   * holds up the file manager. */
  GError* error = NULL;
  if (!g_spawn_async(NULL, (char**)argv, NULL, G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL,
                     NULL, NULL, NULL, &error)) {
    g_warning("parvo could not be started: %s", error->message);
    g_error_free(error);
  }
  g_free(argv);
}

static void free_paths(gpointer paths, GClosure* closure) {
  (void)closure;
  g_ptr_array_unref(paths);
}

void parvo_menu_connect_run(gpointer menu_item, GPtrArray* paths) {
  g_signal_connect_data(menu_item, "activate", G_CALLBACK(run_parvo), paths, free_paths, 0);
}
