// Opens one session on the server given as the first argument, prints
// "SESSION" and then waits to be killed: a client process that dies with its
// session open.
"use strict";
const { OPCUAClient } = require("node-opcua-client");

(async () => {
    const client = OPCUAClient.create({ connectionStrategy: { maxRetry: 0 } });
    await client.connect(process.argv[2]);
    await client.createSession();
    console.log("SESSION");
    setInterval(() => {}, 1 << 30);
})().catch((e) => {
    console.log("FAILED " + e.message);
    process.exit(1);
});
