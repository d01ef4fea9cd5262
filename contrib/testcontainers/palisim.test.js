// Starts the Palisim image with Testcontainers, as a test suite starts its
// dependencies, sends it an echo and a command 31, and stops it.
//   DOCKER_HOST=unix:///run/podman/podman.sock TESTCONTAINERS_RYUK_DISABLED=true npm test
// PALISIM_IMAGE names the image (default localhost/palisim:latest).
import assert from "node:assert/strict";
import net from "node:net";
import { test } from "node:test";
import { GenericContainer, Wait } from "testcontainers";

const image = process.env.PALISIM_IMAGE ?? "localhost/palisim:latest";
const HOST_PORT = 7000;
// Every port the image exposes is mapped: podman lists them all among the
// container's bindings, which Testcontainers waits for.
const IMAGE_PORTS = [HOST_PORT, 7443, 9464, 7070];

// The published test MFK, and two PIN keys wrapped under it.
const MFK = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
const PIN_KEY_A = "1PUNE000,35DEC7FD540FED3FB857674618E45AA1A9EF8D31C895C115,B3E41E6DEDE80F6A";
const PIN_KEY_B = "1PUNE000,1E97BBD5F1682E5E2EA4A87FD8A5D81ADD141C5B4BED0FA3,E538E503B9532EC5";

// The image with its port published on this machine's loopback only.
class PalisimContainer extends GenericContainer {
  constructor(name) {
    super(name);
    this.withExposedPorts(...IMAGE_PORTS)
      .withEnvironment({ PALISIM_MFK: MFK })
      .withWaitStrategy(Wait.forLogMessage(/^Palisim002 ready: /m));
    for (const binding of Object.values(this.hostConfig.PortBindings)) {
      binding[0].HostIp = "127.0.0.1";
    }
  }
}

// Sends each request on one connection; resolves with the replies, each
// without its CR LF.
function exchange(host, port, requests) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, host);
    let received = "";
    socket.setTimeout(5000, () => socket.destroy(new Error("no reply within 5 s")));
    socket.on("connect", () => socket.write(requests.map((r) => r + "\r").join("")));
    socket.on("data", (data) => {
      received += data;
      const replies = received.split("\r\n").slice(0, -1);
      if (replies.length === requests.length) {
        socket.end();
        resolve(replies);
      }
    });
    socket.on("error", reject);
  });
}

test("the image answers an echo and a PIN translation through its mapped port", async () => {
  const container = await new PalisimContainer(image).start();
  try {
    const replies = await exchange(container.getHost(), container.getMappedPort(HOST_PORT), [
      "<00#testcontainers#>",
      `<31#1#${PIN_KEY_A}#${PIN_KEY_B}#1B9C1845EB993A7A#401234567890#>`,
    ]);
    assert.deepEqual(replies, ["<00#000035#testcontainers#>", "<41#10A01C8D02C69107#Y#>"]);
  } finally {
    await container.stop();
  }
});
