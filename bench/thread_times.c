// Preloaded into a timed process: writes one line per thread to the file PARVO_THREAD_TIMES
// names, when the thread ends (the main thread at exit): its role, wall, user and system
// seconds. "waiting" is what wall leaves over. Bench use only.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static double seconds(struct timeval t) { return t.tv_sec + t.tv_usec / 1e6; }

static double processStart;

static void record(const char* role, double started) {
  const char* path = getenv("PARVO_THREAD_TIMES");
  if (path == NULL) return;
  struct rusage usage;
  getrusage(RUSAGE_THREAD, &usage);
  FILE* file = fopen(path, "a");
  if (file == NULL) return;
  fprintf(file, "%s %.6f %.6f %.6f\n", role, now() - started, seconds(usage.ru_utime),
          seconds(usage.ru_stime));
  fclose(file);
}

__attribute__((constructor)) static void started(void) { processStart = now(); }
__attribute__((destructor)) static void ended(void) { record("main", processStart); }

struct Start {
  void* (*routine)(void*);
  void* argument;
};

static void* timed(void* opaque) {
  struct Start start = *(struct Start*)opaque;
  free(opaque);
  const double began = now();
  void* result = start.routine(start.argument);
  record("worker", began);
  return result;
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                   void* argument) {
  static int (*create)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  if (create == NULL) create = dlsym(RTLD_NEXT, "pthread_create");
  struct Start* start = malloc(sizeof *start);
  start->routine = routine;
  start->argument = argument;
  return create(thread, attributes, timed, start);
}
