% End-to-end tests of the korvane module in GNU Octave. Run from the build
% folder's parent with the module on the path:
%   octave-cli --no-gui --norc --no-history -q tests/octave/korvane_host_tests.m <module folder> [oct|mex]
% With oct or mex, korvane must be that file (Octave prefers korvane.oct to a
% korvane.mex beside it).
1;

function msg = error_of(f)
  msg = '';
  try
    f();
  catch err
    msg = err.message;
  end
end

function check(name, condition)
  global passed failed
  if condition
    passed = passed + 1;
  else
    failed = failed + 1;
    printf('FAILED: %s\n', name);
  end
end

global passed failed
passed = 0;
failed = 0;
args = argv();
if numel(args) >= 1
  addpath(args{1});
end
if numel(args) >= 2
  check(sprintf('korvane is korvane.%s', args{2}), ...
        ~isempty(regexp(which('korvane'), ['korvane\.' args{2} '$'], 'once')));
end

source(fullfile(fileparts(mfilename('fullpath')), 'korvane_cases.m'));
same_bits = @(x, y) same_result(x, y, true);

% Every call with a stated outcome, bit for bit against the plain loops and
% byte for byte against the messages, as Octave shows them.
for c = 1:rows(cases)
  if ~isempty(cases{c, 4})
    check(cases{c, 1}, as_expected(run_call(cases{c, 5}, cases{c, 2}, cases{c, 3}), cases{c, 4}));
  end
end

% korvane_smallest: exactly the first rows of the sort idiom, to the bit,
% over shapes on both sides of its blocks (64 rows, 256 columns), ties,
% NaN, Inf, k past n_a, k = 0 and an empty b; both outputs and one.
if numel(args) >= 2
  check(sprintf('korvane_smallest is korvane_smallest.%s', args{2}), ...
        ~isempty(regexp(which('korvane_smallest'), ['korvane_smallest\.' args{2} '$'], 'once')));
end
shapes = [3 1 1; 3 300 40; 1 65 257; 7 600 300; 0 9 4; 5 2000 3; 2 31 1];
for s = 1:rows(shapes)
  [D, na, nb] = deal(shapes(s, 1), shapes(s, 2), shapes(s, 3));
  x = round(8 * randn(D, na)) / 4;
  y = round(8 * randn(D, nb)) / 4;
  if D > 0 && na > 20 && nb > 2
    x(1, [5 9]) = [NaN Inf];
    x(D, na) = -Inf;
    y(1, 2) = NaN;
    y(D, nb) = Inf;
  end
  for b_is_a = [false true]
    if b_is_a
      y = [];
    end
    [sorted, order] = sort(korvane(x, y), 1);
    for k = unique([0 1 2 10 63 64 65 100 na na + 3])
      n = min(k, na);
      name = sprintf('smallest D=%d na=%d nb=%d k=%d b=a %d', D, na, nb, k, b_is_a);
      [d, i] = korvane_smallest(x, y, k);
      check(name, same_bits(d, sorted(1:n, :)) && isequal(i, order(1:n, :)));
      check([name ', d only'], same_bits(korvane_smallest(x, y, k), sorted(1:n, :)));
    end
  end
end
check('smallest 3x0 a', isequal(size(korvane_smallest(zeros(3, 0), ones(3, 4), 2)), [0 4]));
check('smallest no b points', isequal(size(korvane_smallest(a, zeros(7, 0), 2)), [2 20]));
check('smallest k of 1e300', same_bits(korvane_smallest(a, b, 1e300), sort(korvane(a, b))));
korvane_smallest(a, b, 2);
check('smallest no output gives ans', same_bits(ans, korvane_smallest(a, b, 2)));
smallest_usage = sprintf(['korvane_smallest: Usage: d = korvane_smallest(a,b,k)\n' ...
                          '       or: [d,i] = korvane_smallest(a,b,k)\n' ...
                          'where the b matrix may be empty.']);
badk = 'korvane_smallest: Error: k must be a non-negative integer-valued real double scalar';
check('smallest usage', strcmp(error_of(@() korvane_smallest(a, b)), smallest_usage));
check('smallest lengths', strcmp(error_of(@() korvane_smallest(a, ones(6, 3), -1)), ...
                                 strrep(lengths.message, 'korvane:', 'korvane_smallest:')));
for k = {-1, 0.5, NaN, Inf, [1 2], [], single(2), int32(2), 2i, sparse(2), true, '2', {2}}
  check(sprintf('smallest refuses k %s', disp(k{1})), ...
        strcmp(error_of(@() korvane_smallest(a, b, k{1})), badk));
end
% Blocks of b's columns in parcellfun's processes give one call's bits.
if ~isempty(pkg('list', 'parallel'))
  pkg load parallel
  x = round(8 * randn(4, 3000)) / 4;
  y = randn(4, 700);
  blocks = mat2cell(y, 4, [100 250 1 349]);
  run_block = @(bj) [{getpid()}, nthargout(1:2, @korvane_smallest, x, bj, 7)];
  parts = parcellfun(2, run_block, blocks, 'UniformOutput', false, 'VerboseLevel', 0);
  parts = vertcat(parts{:});
  [d, i] = korvane_smallest(x, y, 7);
  check('smallest in processes', same_bits([parts{:, 2}], d) && isequal([parts{:, 3}], i));
  check('smallest ran in other processes', all([parts{:, 1}] ~= getpid()));
else
  printf('the parallel package is not installed: korvane_smallest in processes not tested\n');
end
check('smallest too large', strcmp(error_of(@() korvane_smallest(zeros(0, 2^32), [], 2^32)), ...
                                   strrep(toolarge.message, 'korvane:', 'korvane_smallest:')));

% Many calls in a row, with errors among them.
all_ok = true;
expected = korvane(a, b);
for round = 1:2000
  all_ok = all_ok && same_bits(korvane(a, b), expected);
  all_ok = all_ok && strcmp(error_of(@() korvane(a, ones(2, 2))), lengths.message);
  all_ok = all_ok && strcmp(error_of(@() korvane(single(a))), notdouble(1, single_fix).message);
end
check('many calls', all_ok);

% korvane_info beside it: the package's version, the entry point it is.
info = korvane_info();
description = fileread(fullfile(fileparts(mfilename('fullpath')), '..', '..', 'package', 'DESCRIPTION'));
version = regexp(description, '^Version: *(\S+)', 'tokens', 'once', 'lineanchors');
check('korvane_info version', strcmp(info.version, version{1}));
if numel(args) >= 2
  entry_point = struct('oct', 'oct-file', 'mex', 'MEX').(args{2});
  check('korvane_info build', strcmp(info.build, ['CMake, ' entry_point]));
end

% help korvane comes from the help file beside the module.
text = evalc('help korvane');
check('help text', ~isempty(strfind(text, 'c = korvane(a,b,Q)')) && ~isempty(strfind(text, 'Exactness')));
check('help korvane_smallest', ~isempty(strfind(evalc('help korvane_smallest'), '[d,i] = korvane_smallest(a,b,k)')));

printf('%d passed, %d failed\n', passed, failed);
if failed > 0
  exit(1);
end
