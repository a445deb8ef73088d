// A real OPC UA client against the gateway's bridge, for tests/opcua:
//   node bridge_probe.js <url> [--write <nodeId> <Boolean|Int32> <value>]... [--user <name> <password>]
// Browses the groups under Objects and their variables, reads every
// variable, makes the writes asked for (all in one Write request, in the
// order given), and prints one line per finding:
//   group <id> <name>
//   var <group id> <id> <name> <value> <status name>
//   time <id> <source timestamp, ms since 1970 UTC>
//   write <id> <status name>
// Exits 1 with the error on stderr when the session cannot be made.
"use strict";
const { OPCUAClient, AttributeIds, DataType, UserTokenType } = require("node-opcua-client");

function numericId(nodeId) { return nodeId.toString().replace(/^ns=1;i=/, ""); }

async function main() {
    const [url, ...rest] = process.argv.slice(2);
    const writes = [];
    let identity;
    for (let i = 0; i < rest.length; ++i) {
        if (rest[i] === "--write") {
            writes.push({ nodeId: rest[i + 1], type: rest[i + 2], value: rest[i + 3] });
            i += 3;
        } else if (rest[i] === "--user") {
            identity = { type: UserTokenType.UserName, userName: rest[i + 1], password: rest[i + 2] };
            i += 2;
        }
    }
    // Patient enough for a server that found its port taken for a moment and
    // listens at its next try, 5 s later.
    const client = OPCUAClient.create({ connectionStrategy: { maxRetry: 15, initialDelay: 100, maxDelay: 1000 } });
    await client.connect(url);
    try {
        const session = await client.createSession(identity);
        try {
            const objects = await session.browse("ns=0;i=85");
            for (const g of objects.references.filter((r) => r.nodeId.namespace === 1)) {
                const gid = numericId(g.nodeId);
                console.log(`group ${gid} ${g.browseName.name}`);
                const vars = await session.browse(g.nodeId.toString());
                for (const v of vars.references) {
                    const dv = await session.read({ nodeId: v.nodeId, attributeId: AttributeIds.Value });
                    const value = dv.value && dv.value.value !== null ? dv.value.value : "null";
                    console.log(`var ${gid} ${numericId(v.nodeId)} ${v.browseName.name} ${value} ${dv.statusCode.name}`);
                    if (dv.sourceTimestamp) console.log(`time ${numericId(v.nodeId)} ${dv.sourceTimestamp.getTime()}`);
                }
            }
            if (writes.length > 0) {
                const values = writes.map((w) => ({
                    nodeId: w.nodeId,
                    attributeId: AttributeIds.Value,
                    value: {
                        value: w.type === "Boolean"
                            ? { dataType: DataType.Boolean, value: w.value === "true" }
                            : { dataType: DataType.Int32, value: Number(w.value) },
                    },
                }));
                const statuses = await session.write(values);
                writes.forEach((w, k) => console.log(`write ${numericId(w.nodeId)} ${statuses[k].name}`));
            }
        } finally {
            await session.close();
        }
    } finally {
        await client.disconnect();
    }
}

main().catch((e) => {
    console.error(e.message);
    process.exit(1);
});
