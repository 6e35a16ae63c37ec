#!/usr/bin/env node
// Checks FHIR Bundles written by callset-converter offline: each against the
// FHIR R4 JSON Schema, then against the Genomics Reporting (STU3) rules the
// converter follows, written in FHIRPath. Prints every failure with its file
// and exits 1 when there is any.
// Usage: check-fhir-bundles.js BUNDLE.json...
'use strict';
const fs = require('fs');
const JSONSchemaValidator = require('@asymmetrik/fhir-json-schema-validator');
const fhirpath = require('fhirpath');
const r4 = require('fhirpath/fhir-context/r4');

const IG = 'http://hl7.org/fhir/uv/genomics-reporting/StructureDefinition/';
const V2_0074 = "system = 'http://terminology.hl7.org/CodeSystem/v2-0074' and code = 'GE'";
const LAB = "system = 'http://terminology.hl7.org/CodeSystem/observation-category' and code = 'laboratory'";
const loinc = (code) => `coding.where(system = 'http://loinc.org' and code = '${code}').exists()`;
const observations = (profile) => `Bundle.entry.resource.ofType(Observation).where(meta.profile contains '${IG}${profile}')`;

// [what the rule asks, FHIRPath expression that must give true]
const RULES = [
  ['Bundle.type is collection', "Bundle.type = 'collection'"],
  ['every fullUrl is a urn:uuid', "Bundle.entry.all(fullUrl.startsWith('urn:uuid:'))"],
  ['fullUrls are distinct', 'Bundle.entry.fullUrl.isDistinct()'],
  ['one Patient', 'Bundle.entry.resource.ofType(Patient).count() = 1'],
  ['one genomic-report with LOINC 51969-4 and category GE',
    `Bundle.entry.resource.ofType(DiagnosticReport).where(meta.profile contains '${IG}genomic-report' and ` +
    `code.${loinc('51969-4')} and category.coding.where(${V2_0074}).exists() and issued.exists()).count() = 1`],
  ['every Observation is a genotype or a therapeutic-implication',
    `Bundle.entry.resource.ofType(Observation).count() = ${observations('genotype')}.count() + ` +
    `${observations('therapeutic-implication')}.count()`],
  ['every Observation has both categories (laboratory, GE)',
    `Bundle.entry.resource.ofType(Observation).all(category.coding.where(${LAB}).exists() and ` +
    `category.coding.where(${V2_0074}).exists())`],
  ['genotypes: code 84413-4, a value and a gene-studied (48018-6) component',
    `${observations('genotype')}.all(code.${loinc('84413-4')} and value.exists() and ` +
    `component.where(code.${loinc('48018-6')} and value.exists()).exists())`],
  ['therapeutic implications: derivedFrom present, value empty, a therapeutic-implication component',
    `${observations('therapeutic-implication')}.all(derivedFrom.exists() and value.empty() and ` +
    "component.where(code.coding.code = 'therapeutic-implication' and value.exists()).exists())"],
  ['the report lists every Observation',
    'Bundle.entry.resource.ofType(DiagnosticReport).result.count() = Bundle.entry.resource.ofType(Observation).count()'],
  ['one Provenance targeting the report',
    'Bundle.entry.resource.ofType(Provenance).count() = 1 and ' +
    'Bundle.entry.resource.ofType(Provenance).target.reference contains ' +
    "Bundle.entry.where(resource is DiagnosticReport).fullUrl.first()"],
];

const validator = new JSONSchemaValidator();

function check(path) {
  const failures = [];
  let bundle;
  try {
    bundle = JSON.parse(fs.readFileSync(path, 'utf8'));
  } catch (error) {
    return [`not readable JSON: ${error.message}`];
  }
  // The schema's oneOf over every resource type reports each mismatch once
  // per type; the deepest paths name the actual fault.
  const schemaErrors = validator.validate(bundle, true).map((error) => `${error.dataPath || '(root)'} ${error.message}`);
  const deepestFirst = [...new Set(schemaErrors)].sort((a, b) => b.split(' ')[0].length - a.split(' ')[0].length);
  for (const error of deepestFirst.slice(0, 5)) failures.push(`FHIR R4 schema: ${error}`);
  for (const [rule, expression] of RULES) {
    let outcome;
    try {
      outcome = fhirpath.evaluate(bundle, expression, null, r4);
    } catch (error) {
      outcome = [`error: ${error.message}`];
    }
    if (outcome.length !== 1 || outcome[0] !== true) failures.push(`${rule}: ${JSON.stringify(outcome)}`);
  }
  const urls = new Set(fhirpath.evaluate(bundle, 'Bundle.entry.fullUrl', null, r4));
  for (const reference of fhirpath.evaluate(bundle, 'Bundle.entry.resource.descendants().reference', null, r4)) {
    if (!urls.has(reference)) failures.push(`reference ${reference} does not resolve inside the Bundle`);
  }
  return failures;
}

const paths = process.argv.slice(2);
if (paths.length === 0) {
  console.error('usage: check-fhir-bundles.js BUNDLE.json...');
  process.exit(2);
}
let failed = false;
for (const path of paths) {
  const failures = check(path);
  for (const failure of failures) console.error(`${path}: ${failure}`);
  failed = failed || failures.length > 0;
}
console.log(`${paths.length} Bundle(s) checked${failed ? ', with failures' : ': all pass'}`);
process.exit(failed ? 1 : 0);
