typedef int kestlin_placeholder; /* entry points come with this library's own work */
