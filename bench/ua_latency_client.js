// The OPC UA client of bench_load104: one session, one subscription, every
// listed ns=1 variable monitored, and the delay of each notification taken
// where the client gets it:
//   node ua_latency_client.js <url> <publishing interval ms> <file of ids>
// (NODE_PATH must reach tests/npm/node_modules). The ids file holds one
// numeric id a line. Prints "ready <items> <revised publishing interval>"
// once every item is monitored. On its standard input,
// "start" forgets the delays seen so far, and "stats" prints
//   stats count=<n> p50=<ms> p99=<ms> max=<ms>
// of the delays since "start": the client's wall clock when the value came
// out of its Publish response less the value's source timestamp (the
// station's time tag). Ends when its input does.
"use strict";
const fs = require("fs");
const readline = require("readline");
const { OPCUAClient, AttributeIds, ClientSubscription, ClientMonitoredItemGroup, TimestampsToReturn } =
    require("node-opcua-client");

// The server takes at most this many items in one call.
const ItemsPerCall = 1000;

// Delays in 0.1 ms bins up to 10 s, as the benchmark keeps its own.
class Delays {
    constructor() { this.reset(); }
    reset() { this.bins = new Uint32Array(100000); this.count = 0; this.max = 0; }
    add(ms) {
        const bin = Math.min(Math.floor(Math.max(ms, 0) * 10), this.bins.length - 1);
        this.bins[bin] += 1;
        this.count += 1;
        this.max = Math.max(this.max, ms);
    }
    percentile(p) {
        const wanted = Math.floor(p * this.count);
        let seen = 0;
        for (let b = 0; b < this.bins.length; ++b) {
            seen += this.bins[b];
            if (seen > wanted)
                return (b + 1) / 10;
        }
        return this.max;
    }
}

async function main() {
    const [url, interval, idsFile] = process.argv.slice(2);
    const ids = fs.readFileSync(idsFile, "utf8").split("\n").filter((l) => l.length > 0);
    const client = OPCUAClient.create({ connectionStrategy: { maxRetry: 3, initialDelay: 100, maxDelay: 500 } });
    await client.connect(url);
    const session = await client.createSession();
    const subscription = ClientSubscription.create(session, {
        requestedPublishingInterval: Number(interval), requestedLifetimeCount: 6000, requestedMaxKeepAliveCount: 20,
        maxNotificationsPerPublish: 0, publishingEnabled: true,
    });
    await new Promise((resolve) => subscription.once("started", resolve));
    const delays = new Delays();
    for (let first = 0; first < ids.length; first += ItemsPerCall) {
        const part = ids.slice(first, first + ItemsPerCall);
        const group = ClientMonitoredItemGroup.create(subscription,
            part.map((id) => ({ nodeId: `ns=1;i=${id}`, attributeId: AttributeIds.Value })),
            { samplingInterval: -1, queueSize: 10, discardOldest: true }, TimestampsToReturn.Both);
        group.on("changed", (item, dv) => {
            if (dv.sourceTimestamp)
                delays.add(Date.now() - dv.sourceTimestamp.getTime());
        });
        await new Promise((resolve, reject) => { group.once("initialized", resolve); group.once("err", reject); });
    }
    console.log(`ready ${ids.length} ${subscription.publishingInterval}`);
    const input = readline.createInterface({ input: process.stdin });
    input.on("line", (line) => {
        if (line === "start")
            delays.reset();
        else if (line === "stats")
            console.log(`stats count=${delays.count} p50=${delays.percentile(0.5)} p99=${delays.percentile(0.99)}`
                        + ` max=${delays.max}`);
    });
    await new Promise((resolve) => input.on("close", resolve));
    await subscription.terminate();
    await session.close();
    await client.disconnect();
}

// node-opcua may keep timers of its own: the client ends with its input.
main().then(() => process.exit(0), (e) => {
    console.error(e.message);
    process.exit(1);
});
