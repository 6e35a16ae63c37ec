#!/usr/bin/env node
// Checks JSON documents against the converter's published schemas (JSON
// Schema draft 2020-12). Arguments after the schema folder are schema names
// (result, provenance, request) each followed by the files to check against
// it; a file holding {"accepted": [...], "refused": [...]} is a list of
// example documents, each of which must pass or fail as listed. Prints every
// failure and exits 1 when there is any.
// Usage: check-json-schemas.js SCHEMA_DIR NAME FILE... [NAME FILE...]...
'use strict';
const fs = require('fs');
const path = require('path');
const Ajv2020 = require('ajv/dist/2020');

const [schemaDir, ...rest] = process.argv.slice(2);
const NAMES = ['result', 'provenance', 'request'];
if (!schemaDir || rest.length === 0 || !NAMES.includes(rest[0])) {
  console.error(`usage: check-json-schemas.js SCHEMA_DIR {${NAMES.join('|')}} FILE... ...`);
  process.exit(2);
}

const ajv = new Ajv2020({ allErrors: true, strict: true, allowUnionTypes: true });
const validators = {};
for (const name of NAMES) {
  validators[name] = ajv.compile(JSON.parse(fs.readFileSync(path.join(schemaDir, `${name}.schema.json`), 'utf8')));
}

let failed = false;
let checked = 0;
const fail = (message) => {
  console.error(message);
  failed = true;
};
const errorsOf = (validate) => validate.errors.map((e) => `${e.instancePath || '(root)'} ${e.message}`).join('; ');

let schema = null;
for (const argument of rest) {
  if (NAMES.includes(argument)) {
    schema = argument;
    continue;
  }
  const document = JSON.parse(fs.readFileSync(argument, 'utf8'));
  const validate = validators[schema];
  if (document && document.accepted && document.refused) {
    document.accepted.forEach((example, i) => {
      checked += 1;
      if (!validate(example)) fail(`${argument}: accepted[${i}] fails the ${schema} schema: ${errorsOf(validate)}`);
    });
    document.refused.forEach((example, i) => {
      checked += 1;
      if (validate(example)) fail(`${argument}: refused[${i}] passes the ${schema} schema`);
    });
    continue;
  }
  checked += 1;
  if (!validate(document)) fail(`${argument}: fails the ${schema} schema: ${errorsOf(validate)}`);
}
console.log(`${checked} document(s) checked${failed ? ', with failures' : ': all pass'}`);
process.exit(failed ? 1 : 0);
