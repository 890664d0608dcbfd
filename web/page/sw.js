// Keeps the page's own files so that it works offline after the first visit:
// answered from the cache, refreshed from the network when it can be reached.
const CACHE = "plix-page-v1";
const FILES = [
  "./",
  "index.html",
  "style.css",
  "app.js",
  "worker.js",
  "icon.svg",
  "manifest.webmanifest",
  "plix-codec/plix-codec.js",
  "plix-codec/plix-wasm.mjs",
  "plix-codec/plix-wasm.wasm",
];

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
  event.waitUntil(
    caches
      .keys()
      .then((keys) => Promise.all(keys.filter((k) => k !== CACHE).map((k) => caches.delete(k))))
      .then(() => self.clients.claim()),
  );
});

self.addEventListener("fetch", (event) => {
  const url = new URL(event.request.url);
  if (event.request.method !== "GET" || url.origin !== location.origin) return;
  event.respondWith(
    caches.open(CACHE).then(async (cache) => {
      const cached = await cache.match(event.request, { ignoreSearch: true });
      const fresh = fetch(event.request)
        .then((response) => {
          if (response.ok) cache.put(event.request, response.clone());
          return response;
        })
        .catch(() => cached);
      return cached || fresh;
    }),
  );
});
