% Checks an installed korvane (package or build script) in a fresh Octave
% session where it is already on the path: it is the oct-file expected, with
% its help file beside it, every call form gives the plain loops' bits,
% errors carry their messages, and help korvane and lookfor work, lookfor
% listing korvane once; korvane_smallest beside it likewise, and
% korvane_info, which names the route (expected_build). Exits with status 1
% on any failure.
%   ... --eval "<put korvane on the path>; source('check_installed_module.m')"
failures = 0;
module = which('korvane');
if isempty(regexp(module, ['^' regexptranslate('escape', expected_folder) '.*korvane\.oct$'], 'once'))
  printf('FAILED: korvane is %s, not an oct-file in %s\n', module, expected_folder);
  failures = failures + 1;
end
if ~exist(fullfile(fileparts(module), 'korvane.m'), 'file')
  printf('FAILED: no help file beside %s\n', module);
  failures = failures + 1;
end

a = [0 3 0 -1.5; 0 4 1 2.25; 1e-3 7 -2 0];
b = [1 2; 1 -3; 0.5 1e10];
Q = [1 2; 0 -1; 3 0.5; 4 4];
loops = zeros(4, 2);
weighted = zeros(3, 1);
for i = 1:4
  for j = 1:2
    s = 0;
    for k = 1:3
      t = a(k, i) - b(k, j);
      s = s + t * t;
      weighted(k) = weighted(k) + (Q(i, j) * t) * t;
    end
    loops(i, j) = s;
  end
end
bits = @(x) typecast(x(:), 'uint64');
checks = {isequal(bits(korvane(a, b)), bits(loops)), 'korvane(a,b) equals the plain loops';
          isequal(bits(korvane(a, b, Q)), bits(weighted)), 'korvane(a,b,Q) equals the plain loops';
          isequal(korvane(a), korvane(a, [])), 'korvane(a) equals korvane(a,[])';
          all(diag(korvane(a)) == 0), 'exact zero diagonal'};
for c = 1:rows(checks)
  if ~checks{c, 1}
    printf('FAILED: %s\n', checks{c, 2});
    failures = failures + 1;
  end
end

try
  korvane(a, b(1:2, :));
  message = '';
catch err
  message = err.message;
end
if ~strcmp(message, 'korvane: Error: column lengths must agree')
  printf('FAILED: wrong-rows message "%s"\n', message);
  failures = failures + 1;
end
help_text = help('korvane');
if isempty(strfind(help_text, 'C = korvane(a,b)'))
  printf('FAILED: help korvane shows no usage\n');
  failures = failures + 1;
end
listed = regexp(evalc('lookfor(''squared Euclidean'')'), '^korvane\s', 'lineanchors');
if numel(listed) ~= 1
  printf('FAILED: lookfor lists korvane %d times\n', numel(listed));
  failures = failures + 1;
end

% korvane_info beside it, built by the route expected.
info_module = which('korvane_info');
if ~strcmp(fileparts(info_module), fileparts(module)) || isempty(regexp(info_module, '\.oct$', 'once'))
  printf('FAILED: korvane_info is "%s", not an oct-file beside %s\n', info_module, module);
  failures = failures + 1;
elseif ~strcmp(korvane_info().build, expected_build)
  printf('FAILED: korvane_info says it was built by "%s"\n', korvane_info().build);
  failures = failures + 1;
end

% The companion korvane_smallest: an oct-file beside korvane's, with its help
% file, giving the first rows of the sort idiom.
smallest = which('korvane_smallest');
if ~strcmp(fileparts(smallest), fileparts(module)) || isempty(regexp(smallest, '\.oct$', 'once')) ...
   || ~exist(fullfile(fileparts(smallest), 'korvane_smallest.m'), 'file')
  printf('FAILED: korvane_smallest is %s, not an oct-file with its help file beside korvane\n', ...
         smallest);
  failures = failures + 1;
end
[sorted, order] = sort(loops, 1);
[d, i] = korvane_smallest(a, b, 3);
if ~isequal(bits(d), bits(sorted(1:3, :))) || ~isequal(i, order(1:3, :)) ...
   || isempty(strfind(help('korvane_smallest'), '[d,i] = korvane_smallest(a,b,k)'))
  printf('FAILED: korvane_smallest(a,b,3) or its help\n');
  failures = failures + 1;
end

if failures > 0
  exit(1);
end
printf('%s: all checks passed\n', module);
