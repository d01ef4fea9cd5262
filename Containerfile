# The simulator as a container image: `podman build .` or `docker build .`.
# The build stage makes the Debian packages from this checkout as
# scripts/package-check.sh does; the image installs only palisim (no Qt).
FROM debian:bookworm AS build
WORKDIR /src
COPY scripts/deps.sh scripts/
RUN scripts/deps.sh --headless dpkg-dev file
COPY . .
RUN cmake -S . -B /build -DCMAKE_BUILD_TYPE=Release -DPALISIM_TESTS=OFF -DPALISIM_GUI=OFF \
 && cmake --build /build -j"$(nproc)" \
 && cd /build && cpack -G DEB

FROM debian:bookworm-slim
COPY --from=build /build/palisim_*.deb /tmp/
COPY contrib/container/palisim-healthcheck /usr/local/bin/
RUN apt-get update \
 && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends /tmp/palisim_*.deb \
 && rm -rf /var/lib/apt/lists/* /var/cache/apt/* /tmp/palisim_*.deb \
 && useradd --system --uid 10001 --user-group --no-create-home --home-dir /nonexistent \
      --shell /usr/sbin/nologin palisim
# /etc/palisim/atalla.conf is the package's, with the published test MFK:
# PALISIM_MFK stands for its mfk, and a file mounted there replaces it.
WORKDIR /etc/palisim
USER 10001:10001
# Host commands, TLS (with tls_port = 7443 in a mounted file), metrics (with
# PALISIM_METRICS=0.0.0.0:9464), the control port (with
# PALISIM_CONTROL=0.0.0.0:7070 and a PALISIM_CONTROL_TOKEN).
EXPOSE 7000 7443 9464 7070
# Healthy only while the simulator answers an echo on its plain port.
HEALTHCHECK --interval=10s --timeout=3s --start-period=10s --retries=3 CMD ["palisim-healthcheck"]
# The simulator is PID 1: SIGTERM ends it at once, with exit status 0.
ENTRYPOINT ["/usr/bin/Palisim002", "--headless", "--quiet"]
