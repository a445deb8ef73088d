// A real OPC UA client that watches variables of the gateway's bridge:
//   node ua_watch.js <url> <numeric id>...
// Subscribes to the Value of each ns=1 variable with a deep queue, so a
// value that lasted less than a publishing interval is reported too, and
// prints one line per notification, in the order the server queued them:
//   change <id> <value> <status name> <source timestamp, ms since 1970 UTC>
// "ready" follows the first notification of every variable (its current
// value). Runs until its standard input ends; exits 1 with the error on
// stderr when the subscription cannot be made.
"use strict";
const { OPCUAClient, AttributeIds, ClientSubscription, ClientMonitoredItem, TimestampsToReturn } =
    require("node-opcua-client");

async function main() {
    const [url, ...ids] = process.argv.slice(2);
    const client = OPCUAClient.create({ connectionStrategy: { maxRetry: 3, initialDelay: 100, maxDelay: 500 } });
    await client.connect(url);
    const session = await client.createSession();
    const subscription = ClientSubscription.create(session, {
        requestedPublishingInterval: 100, requestedLifetimeCount: 6000, requestedMaxKeepAliveCount: 20,
        maxNotificationsPerPublish: 0, publishingEnabled: true,
    });
    const waiting = new Set(ids);
    for (const id of ids) {
        const item = ClientMonitoredItem.create(subscription,
            { nodeId: `ns=1;i=${id}`, attributeId: AttributeIds.Value },
            { samplingInterval: 100, queueSize: 100, discardOldest: false }, TimestampsToReturn.Both);
        item.on("changed", (dv) => {
            const value = dv.value && dv.value.value !== null ? dv.value.value : "null";
            const time = dv.sourceTimestamp ? dv.sourceTimestamp.getTime() : 0;
            console.log(`change ${id} ${value} ${dv.statusCode.name} ${time}`);
            if (waiting.delete(id) && waiting.size === 0)
                console.log("ready");
        });
    }
    process.stdin.resume();
    await new Promise((resolve) => process.stdin.on("end", resolve));
    await subscription.terminate();
    await session.close();
    await client.disconnect();
}

main().catch((e) => {
    console.error(e.message);
    process.exit(1);
});
