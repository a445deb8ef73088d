// End-to-end tests: a real OPC UA client against libtagserve.so, loaded by
// tagserve_host the way the gateway's bridge loads it.
"use strict";
const { test } = require("node:test");
const assert = require("node:assert/strict");
const { spawn } = require("node:child_process");
const readline = require("node:readline");
const net = require("node:net");
const path = require("node:path");
const {
    OPCUAClient, AttributeIds, TimestampsToReturn, DataType, StatusCodes, UserTokenType,
    ClientSubscription, ClientMonitoredItem, makeBrowsePath, BrowseDirection,
} = require("node-opcua-client");

const hostPath = process.env.TAGSERVE_HOST;
const libraryPath = process.env.TAGSERVE_LIBRARY;

// One running host program: its port, its output lines (the library's
// messages on standard error among them), and its commands.
class Host {
    static async start(args = []) {
        const h = Host.spawn(args);
        await h.ready();
        return h;
    }
    // The program started, not yet waited for: ready() gives its port.
    static spawn(args = []) {
        const h = new Host();
        h.proc = spawn(hostPath, [libraryPath, ...args], { stdio: ["pipe", "pipe", "pipe"] });
        h.lines = [];
        h.waiters = [];
        const take = (line) => {
            h.lines.push(line);
            h.waiters = h.waiters.filter((w) => !w(line));
        };
        readline.createInterface({ input: h.proc.stdout }).on("line", take);
        readline.createInterface({ input: h.proc.stderr }).on("line", (line) => {
            process.stderr.write(line + "\n");
            take(line);
        });
        return h;
    }
    async ready(timeoutMs = 30000) {
        const ready = await this.waitFor((l) => l.startsWith("READY "), timeoutMs);
        this.port = Number(ready.split(" ")[1]);
        this.url = `opc.tcp://127.0.0.1:${this.port}`;
        return this;
    }
    waitFor(match, timeoutMs = 30000) {
        const seen = this.lines.find(match);
        if (seen) return Promise.resolve(seen);
        return new Promise((resolve, reject) => {
            const timer = setTimeout(() => reject(new Error("host did not print the expected line")), timeoutMs);
            this.waiters.push((line) => {
                if (!match(line)) return false;
                clearTimeout(timer);
                resolve(line);
                return true;
            });
        });
    }
    send(command) { this.proc.stdin.write(command + "\n"); }
    writes() { return this.lines.filter((l) => l.startsWith("{\"write\"")).map((l) => JSON.parse(l)); }
    async stop() {
        // A program that has already ended (it could not load the library,
        // say) fires no second "exit".
        const exited = this.proc.exitCode !== null ? Promise.resolve(this.proc.exitCode)
            : new Promise((resolve) => this.proc.on("exit", resolve));
        this.proc.stdin.end();
        const code = await exited;
        assert.equal(code, 0, "host exit code");
    }
}

// Runs fn with a started host and stops the host afterwards, whatever fn did.
async function withHost(args, fn) {
    const host = await Host.start(args);
    try {
        return await fn(host);
    } finally {
        await host.stop();
    }
}

function newClient(options = {}) {
    return OPCUAClient.create({
        connectionStrategy: { maxRetry: 2, initialDelay: 100, maxDelay: 500 },
        ...options,
    });
}

async function withSession(host, identity, fn, clientOptions) {
    const client = newClient(clientOptions);
    await client.connect(host.url);
    try {
        const session = await client.createSession(identity);
        try {
            return await fn(session, client);
        } finally {
            await session.close();
        }
    } finally {
        await client.disconnect();
    }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// The next `event` of emitter, or a failure naming `what` after timeoutMs.
function nextEvent(emitter, event, timeoutMs, what) {
    return new Promise((resolve, reject) => {
        const timer = setTimeout(() => {
            emitter.off(event, seen);
            reject(new Error("timed out waiting for " + what));
        }, timeoutMs);
        function seen(...args) {
            clearTimeout(timer);
            resolve(args);
        }
        emitter.once(event, seen);
    });
}

// A raw loopback connection to the port; a refused one fails the test at once.
function connected(port) {
    return new Promise((resolve, reject) => {
        const socket = net.connect(port, "127.0.0.1");
        socket.once("error", reject);
        socket.once("connect", () => {
            socket.off("error", reject);
            socket.on("error", () => {}); // the server may close it: that is for the test to see
            resolve(socket);
        });
    });
}

test("anonymous connect with default client options", async () => {
    await withHost([], async (host) => {
    const client = OPCUAClient.create({ connectionStrategy: { maxRetry: 0 } });
    await client.connect(host.url);
    const session = await client.createSession();
    const ns = await session.read({ nodeId: "ns=0;i=2255", attributeId: AttributeIds.Value });
    assert.equal(ns.statusCode, StatusCodes.Good);
    assert.equal(ns.value.value.length, 2);
    const state = await session.read({ nodeId: "ns=0;i=2259", attributeId: AttributeIds.Value });
    assert.equal(state.value.value, 0);
    const status = await session.read({ nodeId: "ns=0;i=2256", attributeId: AttributeIds.Value });
    assert.equal(status.statusCode, StatusCodes.Good);
    assert.equal(status.value.value.state, 0);
    const limits = await session.read({ nodeId: "ns=0;i=11705", attributeId: AttributeIds.Value });
    assert.equal(limits.value.value, 1000);
    await session.close();
    await client.disconnect();
    });
});

test("user name and password: right, wrong and anonymous", async () => {
    await withHost(["--password", "op", "secret"], async (host) => {
    await withSession(host, { type: UserTokenType.UserName, userName: "op", password: "secret" }, async (s) => {
        const dv = await s.read({ nodeId: "ns=1;i=3", attributeId: AttributeIds.Value });
        assert.equal(dv.statusCode, StatusCodes.Good);
    });
    const client = newClient();
    await client.connect(host.url);
    await assert.rejects(client.createSession({ type: UserTokenType.UserName, userName: "op", password: "wrong" }),
        /BadUserAccessDenied/);
    await assert.rejects(client.createSession());
    await client.disconnect();
    });
});

test("browse to the groups and read values, statuses and source timestamps", async () => {
    await withHost([], async (host) => {
    await withSession(host, undefined, async (session) => {
        const objects = await session.browse("ns=0;i=85");
        const names = objects.references.map((r) => r.browseName.toString());
        assert.ok(names.includes("1:Station_1") && names.includes("1:lifebit"), names.join());
        const station = objects.references.find((r) => r.browseName.name === "Station_1");
        assert.equal(station.nodeId.toString(), "ns=1;i=80001");
        assert.equal(station.typeDefinition.toString(), "ns=0;i=61");

        const vars = await session.browse("ns=1;i=80001");
        assert.deepEqual(vars.references.map((r) => r.browseName.name).sort(),
            ["Connected", "m1", "p_init", "p_int", "p_sw"]);

        // Paging with one reference per node.
        const first = await session.browse({
            nodeId: "ns=1;i=80001", browseDirection: BrowseDirection.Forward, referenceTypeId: "HierarchicalReferences",
            includeSubtypes: true, resultMask: 63,
        });
        assert.ok(first.references.length >= 5);

        const path = await session.translateBrowsePath(makeBrowsePath("ns=0;i=85", "/1:Station_1/1:p_int"));
        assert.equal(path.statusCode, StatusCodes.Good);
        assert.equal(path.targets[0].targetId.toString(), "ns=1;i=3");

        const before = Date.now();
        const [connected, pInt, m1, pInit] = await session.read([
            { nodeId: "ns=1;i=1", attributeId: AttributeIds.Value },
            { nodeId: "ns=1;i=3", attributeId: AttributeIds.Value },
            { nodeId: "ns=1;i=4", attributeId: AttributeIds.Value },
            { nodeId: "ns=1;i=6", attributeId: AttributeIds.Value },
        ], 0);
        assert.equal(connected.value.dataType, DataType.Boolean);
        assert.equal(connected.value.value, true);
        assert.equal(pInt.value.dataType, DataType.Int32);
        assert.equal(pInt.value.value, 7);
        assert.equal(m1.value.dataType, DataType.Double);
        assert.ok(m1.value.value >= 100);
        assert.ok(m1.sourceTimestamp instanceof Date);
        assert.ok(Math.abs(m1.sourceTimestamp.getTime() - before) < 5000, "source timestamp is the pushed time");
        assert.equal(pInit.statusCode, StatusCodes.BadWaitingForInitialData);

        const dataType = await session.read({ nodeId: "ns=1;i=4", attributeId: AttributeIds.DataType });
        assert.equal(dataType.value.value.toString(), "ns=0;i=11");
        const all = await session.readAllAttributes("ns=1;i=3");
        assert.equal(all.browseName.toString(), "1:p_int");
        const int32Type = await session.readAllAttributes("ns=0;i=6");
        assert.equal(int32Type.browseName.toString(), "Int32");
    });
    });
});

async function monitor(session, nodeId, values) {
    const sub = ClientSubscription.create(session, {
        requestedPublishingInterval: 200, requestedLifetimeCount: 60, requestedMaxKeepAliveCount: 10,
        maxNotificationsPerPublish: 100, publishingEnabled: true, priority: 1,
    });
    const item = ClientMonitoredItem.create(sub, { nodeId, attributeId: AttributeIds.Value },
        { samplingInterval: 100, queueSize: 5, discardOldest: true }, TimestampsToReturn.Both);
    item.on("changed", (dv) => values.push({ at: Date.now(), dv }));
    await new Promise((resolve) => item.once("initialized", resolve));
    return sub;
}

async function until(predicate, timeoutMs, what) {
    const end = Date.now() + timeoutMs;
    while (!predicate()) {
        if (Date.now() > end) throw new Error("timed out waiting for " + what);
        await sleep(50);
    }
}

test("subscription delivers pushed changes, a bad status and keep-alives", async () => {
    await withHost([], async (host) => {
    await withSession(host, undefined, async (session) => {
        const values = [];
        const sub = await monitor(session, "ns=1;i=4", values);
        await until(() => values.length >= 4, 15000, "four values");
        const nums = values.map((v) => v.dv.value.value);
        for (let i = 1; i < nums.length; ++i) assert.ok(nums[i] > nums[i - 1], nums.join());
        host.send("bad");
        await until(() => values.some((v) => v.dv.statusCode.isBad()), 15000, "a bad status");
        await sub.terminate();
        // A subscription on a value that never changes lives on keep-alives.
        const state = [];
        const idle = await monitor(session, "ns=0;i=2259", state);
        // A keep-alive goes out only for cycles that had nothing to send.
        await nextEvent(idle, "keepalive", 20000, "a keep-alive");
        assert.equal(state.length, 1, "only the initial value");
        await idle.terminate();
    });
    });
});

test("writes reach the callback with all three slots; refused writes do not", async () => {
    await withHost([], async (host) => {
    await withSession(host, undefined, async (session) => {
        const write = (nodeId, dataType, value) =>
            session.write({ nodeId, attributeId: AttributeIds.Value, value: { value: { dataType, value } } });
        assert.equal(await write("ns=1;i=2", DataType.Boolean, true), StatusCodes.Good);
        await host.waitFor((l) => l.includes("\"write\":2"));
        assert.deepEqual(host.writes().at(-1), { write: 2, int32: 1, double: 1, bool: 1 });
        assert.equal(await write("ns=1;i=3", DataType.Int32, 2), StatusCodes.Good);
        await host.waitFor((l) => l.includes("\"write\":3"));
        assert.deepEqual(host.writes().at(-1), { write: 3, int32: 2, double: 2, bool: 1 });
        assert.equal(await write("ns=1;i=3", DataType.Double, 2.5), StatusCodes.BadTypeMismatch);
        assert.equal(await write("ns=1;i=1", DataType.Boolean, true), StatusCodes.BadNotWritable);
        assert.equal(await write("ns=1;i=4", DataType.Double, 1), StatusCodes.BadNotWritable);
        const displayName = await session.write({
            nodeId: "ns=1;i=2", attributeId: AttributeIds.DisplayName,
            value: { value: { dataType: DataType.LocalizedText, value: { text: "x" } } },
        });
        assert.equal(displayName, StatusCodes.BadNotWritable);
        assert.equal(await write("ns=1;i=999", DataType.Int32, 1), StatusCodes.BadNodeIdUnknown);
        // The callback runs in the order of the requests: once a later accepted
        // write has reached it, a refused one that did would have come before.
        assert.equal(await write("ns=1;i=3", DataType.Int32, 5), StatusCodes.Good);
        await host.waitFor((l) => l.includes("\"int32\":5"));
        assert.deepEqual(host.writes().map((w) => w.write), [2, 3, 3], "refused writes never reach the callback");
    });
    });
});

test("the client recovers after the host restarts the server", async () => {
    await withHost([], async (host) => {
    const client = newClient({ connectionStrategy: { maxRetry: 100, initialDelay: 200, maxDelay: 1000 } });
    await client.connect(host.url);
    const session = await client.createSession();
    const values = [];
    await monitor(session, "ns=1;i=4", values);
    await until(() => values.length >= 2, 15000, "values before the restart");
    host.send("restart");
    await host.waitFor((l) => l === "OK restart");
    const restartedAt = Date.now();
    await until(() => values.filter((v) => v.at > restartedAt + 500).length >= 3, 40000, "values after the restart");
    await session.close();
    await client.disconnect();
    });
});

test("the client recovers when the host process is replaced on the same port", async () => {
    const host = await Host.start();
    let next;
    try {
        const client = newClient({ connectionStrategy: { maxRetry: 100, initialDelay: 200, maxDelay: 1000 } });
        await client.connect(host.url);
        const session = await client.createSession();
        const values = [];
        await monitor(session, "ns=1;i=4", values);
        await until(() => values.length >= 2, 15000, "values before the restart");
        await host.stop();
        const stoppedAt = Date.now();
        next = await Host.start(["--port", String(host.port)]);
        // The new process counts from its start again: values resume from 100.
        await until(() => values.filter((v) => v.at > stoppedAt).length >= 3, 40000, "values from the new process");
        await session.close();
        await client.disconnect();
    } finally {
        if (next) await next.stop();
        else await host.stop().catch(() => {});
    }
});

test("the host is ready only once the server answers, even on a port taken when it starts", async () => {
    // Whoever holds the port closes each connection unanswered, as no OPC UA server would.
    const squatter = net.createServer((socket) => socket.destroy());
    await new Promise((resolve) => squatter.listen(0, "0.0.0.0", resolve));
    const port = squatter.address().port;
    const host = Host.spawn(["--port", String(port)]);
    try {
        await host.waitFor((l) => l.includes(`cannot listen on port ${port}`));
        await new Promise((resolve) => squatter.close(resolve));
        // The server binds at its next attempt, some seconds on.
        await host.ready(30000);
        const socket = await connected(host.port);
        socket.destroy();
        assert.equal(await readState(host.url), StatusCodes.Good);
    } finally {
        await host.stop();
    }
});

test("secure channel renewal keeps requests flowing", async () => {
    await withHost([], async (host) => {
    await withSession(host, undefined, async (session, client) => {
        // The client renews at three quarters of the lifetime, 7.5 s on.
        await nextEvent(client, "security_token_renewed", 30000, "the token renewal");
        const dv = await session.read({ nodeId: "ns=1;i=3", attributeId: AttributeIds.Value });
        assert.equal(dv.statusCode, StatusCodes.Good);
    }, { defaultSecureTokenLifetime: 10000 });
    });
});

// A client process that opens a session, then is killed without closing it.
async function killedWithSession(url) {
    const proc = spawn(process.execPath, [path.join(__dirname, "session_holder.js"), url],
        { stdio: ["ignore", "pipe", "inherit"] });
    const exited = new Promise((resolve) => proc.on("exit", resolve));
    // The client library logs on stdout too: wait for the verdict line.
    const lines = readline.createInterface({ input: proc.stdout });
    const verdict = await new Promise((resolve) => {
        lines.on("line", (l) => { if (l === "SESSION" || l.startsWith("FAILED")) resolve(l); });
        proc.on("exit", () => resolve("exited"));
    });
    assert.equal(verdict, "SESSION");
    proc.kill("SIGKILL");
    await exited;
}

async function readState(url) {
    return withSession({ url }, undefined, async (session) => {
        const dv = await session.read({ nodeId: "ns=0;i=2259", attributeId: AttributeIds.Value });
        return dv.statusCode;
    });
}

test("sessions of client processes that were killed do not lock out a new client", async () => {
    await withHost([], async (host) => {
        // The first one makes the client certificate the others then share.
        await killedWithSession(host.url);
        await Promise.all(Array.from({ length: 15 }, () => killedWithSession(host.url)));
        assert.equal(await readState(host.url), StatusCodes.Good);
    });
});

test("idle sockets and bare secure channels at the connection limit do not lock out a real client", async () => {
    await withHost([], async (host) => {
        const sockets = [];
        const holders = [];
        try {
            // The bare channels first: the server closes idle sockets sooner, and
            // the limit must still be full when the real client comes, however
            // long the channels take to open.
            for (let i = 0; i < 16; ++i) {
                const holder = OPCUAClient.create({ connectionStrategy: { maxRetry: 0 } });
                await holder.connect(host.url);
                holders.push(holder);
            }
            for (let i = 0; i < 16; ++i)
                sockets.push(await connected(host.port));
            assert.equal(await readState(host.url), StatusCodes.Good);
            await host.waitFor((l) => l.includes("connection limit reached"));
            assert.equal(await readState(host.url), StatusCodes.Good);
        } finally {
            sockets.forEach((s) => s.destroy());
            await Promise.all(holders.map((h) => h.disconnect().catch(() => {})));
        }
    });
});
